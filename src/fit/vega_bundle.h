// Vega, the plotting library report.html draws its figures with, as one
// script built from Debian's libjs-vega when segmix-fit is built
// (src/fit/vega_bundle.cmake): the program needs nothing at run time, and the
// report carries its library and opens offline.
#ifndef SEGMIX_FIT_VEGA_BUNDLE_H_
#define SEGMIX_FIT_VEGA_BUNDLE_H_

#include <string_view>

namespace segmix::fit {

// The script: it defines one global, `vega` (View, parse and the rest of
// Vega's API). It holds no "</script" and so can be inlined in a page.
std::string_view VegaScript();

}  // namespace segmix::fit

#endif  // SEGMIX_FIT_VEGA_BUNDLE_H_
