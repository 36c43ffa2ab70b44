#!/usr/bin/env bash
# check-calibration.sh: the parametric bootstrap of segmix-fit --bootstrap
# against a test whose asymptotic law is known.
#
# The data: nuclear families (two generations, no half-sibs) drawn by
# segmix-simulate --no-probands with one mean for every genotype and no
# polygenic component, so that no family is corrected for ascertainment and
# the null of the test "sporadic within polygenic" holds. polygenic's extra
# parameter pga has its null value 0 on the lower bound of its range, and the
# likelihood is even in pga (a polygenic genotype of x increasing alleles and
# one of 6 - x are equally frequent), so the regular parameter is pga^2 >= 0:
# the statistic's law is the 50:50 mixture of chi2(0) and chi2(1), whose upper
# tail above t > 0 is P(chi2(1) > t) / 2 = erfc(sqrt(t / 2)) / 2. The null
# model is a normal location-scale family, so the statistic is pivotal: the
# bootstrap's replicates, drawn from sporadic's estimates on the observed
# pedigrees and missing pattern, follow its exact law on these families.
#
# Checked, each against a computation of its own here (exit 1 on a failure):
#   - segmix-prep reports no family corrected for ascertainment;
#   - tests.csv names the mixture, and its p-value is erfc(sqrt(T / 2)) / 2;
#   - tests.csv's bootstrap p, n and SE are (1 + #{T_b >= T}) / (n + 1),
#     the usable replicates of fit.json and sqrt(p (1 - p) / (n + 1));
#   - the bootstrap p agrees with the mixture's within 3 of its SEs;
#   - the fraction of replicate statistics at or above 2.706 (the law's 5%
#     point) is within 3 binomial SEs of 0.05.
# The fraction of replicate statistics at 0 (below 1e-6: the two maxima are
# one point) is printed beside the law's 1/2, not tested: a variance-like
# parameter estimated by maximum likelihood from 80 families is at 0 more
# often than half the time.
#
# Size and power: 80 families (353 persons, 313 observed), data seed 11,
# whose statistic 0.603 gives a mixture p of 0.219, and 200 replicates (154 s
# measured on the two cores while other builds shared them). The bootstrap
# p's SE is then about 0.03, so the check catches a p-value wrong by 0.09 or
# more, such as the plain chi2(1)'s 0.44 (the mixture's weights left out),
# but not a mixture weight off by less than about 0.2. At this size the
# exact law lies a little below the asymptote: 1200 data sets on these
# pedigrees with traits drawn afresh, fitted by segmix-fit, give P(T >=
# 0.603) = 0.193 (SE 0.011), 0.524 of them at 0 and 0.042 at or above 2.706;
# 1000 replicates give a bootstrap p of 0.171 (SE 0.012), 0.548 and 0.033.
# The 200 replicates here are 0.34 SEs from the mixture; a change to the
# replicates' stream (another seed or climb) can fail the 3-SE test by that
# gap alone, about one time in ten.
# SEGMIX_CALIBRATION_REPLICATES=N runs N replicates instead (the SE falls as
# 1/sqrt(N), and from some 600 to 2000 replicates on the gap above alone
# exceeds 3 SEs).
#
#   tools/check-calibration.sh
#   SEGMIX_FIT=... SEGMIX_SIMULATE=... SEGMIX_PREP=... tools/check-calibration.sh
#
# Needs node (as tools/check-report.sh does). Exit status: 0 agreement, 1 a
# disagreement, 2 a program missing or failing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
fit=${SEGMIX_FIT:-$root/build/release/segmix-fit}
simulate=${SEGMIX_SIMULATE:-$root/build/release/segmix-simulate}
prep=${SEGMIX_PREP:-$root/build/release/segmix-prep}
replicates=${SEGMIX_CALIBRATION_REPLICATES:-200}
families=80
seed=11

fail_setup() {
  echo "check-calibration.sh: $*" >&2
  exit 2
}
# Absolute paths: the work is done in a scratch folder.
absolute() {
  if [ ! -f "$1" ] || [ ! -x "$1" ]; then
    fail_setup "$1 is not an executable; build it (or set SEGMIX_FIT, SEGMIX_SIMULATE, SEGMIX_PREP)."
  fi
  echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
}
fit=$(absolute "$fit")
simulate=$(absolute "$simulate")
prep=$(absolute "$prep")
command -v node > /dev/null || fail_setup "node is needed (tools/install-deps.sh installs nodejs)."
case $replicates in
  '' | *[!0-9]* | 0 | 0*) fail_setup "SEGMIX_CALIBRATION_REPLICATES must be a whole number above 0, not '$replicates'." ;;
esac

scratch=$(mktemp -d "${TMPDIR:-/tmp}/segmix-calibration.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
start=$SECONDS

"$simulate" --seed "$seed" --families "$families" --generations 2 \
  --half-sibs 0 --no-probands --MU 1 --A 1 --D 1 --output table.txt \
  || fail_setup "segmix-simulate failed."
"$prep" table.txt data > prep.txt 2>&1 || { cat prep.txt >&2; fail_setup "segmix-prep failed."; }
if ! grep -q "families corrected for ascertainment (.*): 0 of $families\.$" prep.txt; then
  cat prep.txt >&2
  echo "check-calibration.sh: segmix-prep corrects some of the families drawn without probands." >&2
  exit 1
fi
"$fit" data --out fit --models sporadic,polygenic --compare sporadic:polygenic \
  --bootstrap "$replicates" --quiet --no-report > report.txt 2> fit-err.txt \
  || { cat fit-err.txt >&2; fail_setup "segmix-fit failed."; }

node - fit/tests.csv fit/fit.json "$families" "$((SECONDS - start))" <<'EOF'
const fs = require('fs');
const [testsCsv, fitJson, families, seconds] = process.argv.slice(2);
const label = 'sporadic within polygenic';

// RFC 4180 fields of one line (segmix-fit quotes a field with , " or newline).
function fields(line) {
  const out = [];
  let f = '', quoted = false;
  for (let i = 0; i < line.length; ++i) {
    const c = line[i];
    if (quoted) {
      if (c === '"' && line[i + 1] === '"') { f += '"'; ++i; }
      else if (c === '"') quoted = false;
      else f += c;
    } else if (c === '"') quoted = true;
    else if (c === ',') { out.push(f); f = ''; }
    else f += c;
  }
  out.push(f);
  return out;
}
const lines = fs.readFileSync(testsCsv, 'utf8').split('\n').filter(l => l);
const header = fields(lines[0]);
const rows = lines.slice(1).map(l => {
  const v = fields(l), r = {};
  header.forEach((h, i) => { r[h] = v[i]; });
  return r;
});
const row = rows.find(r => r.test === label);
const test = JSON.parse(fs.readFileSync(fitJson, 'utf8')).tests.find(t => t.test === label);
if (!row || !test || !test.bootstrap) {
  console.error(`check-calibration.sh: no bootstrapped test "${label}" in ${testsCsv} and fit.json`);
  process.exit(1);
}

// erfc with fractional error below 1.2e-7 (the Chebyshev fit of Numerical
// Recipes' erfcc).
function erfc(x) {
  const z = Math.abs(x), t = 1 / (1 + 0.5 * z);
  const c = [-1.26551223, 1.00002368, 0.37409196, 0.09678418, -0.18628806,
    0.27886807, -1.13520398, 1.48851587, -0.82215223, 0.17087277];
  let poly = 0;
  for (let k = c.length - 1; k >= 0; --k) poly = c[k] + t * poly;
  const r = t * Math.exp(-z * z + poly);
  return x >= 0 ? r : 2 - r;
}
const mixtureUpper = t => (t > 0 ? 0.5 * erfc(Math.sqrt(t / 2)) : 1);

const failures = [];
const T = Number(row.minus_2_ln_lambda);
const p = Number(row.p_value);
const mixtureP = mixtureUpper(T);
if (!(T > 1e-6)) failures.push(`the observed statistic ${T} is 0: pick another data seed`);
if (row.distribution !== '50:50 chi2(0):chi2(1)') {
  failures.push(`tests.csv's distribution is "${row.distribution}", not the 50:50 mixture of chi2(0) and chi2(1)`);
}
if (!(Math.abs(p - mixtureP) <= 1e-6)) {
  failures.push(`tests.csv's p-value ${p} is not the mixture's ${mixtureP}`);
}

// The bootstrap p and SE from the replicates themselves.
const stats = test.bootstrap.replicates.map(r => r.statistic).filter(s => s !== null);
const n = stats.length;
const reaching = stats.filter(s => s >= T).length;
const bootP = (1 + reaching) / (n + 1);
const bootSe = Math.sqrt(bootP * (1 - bootP) / (n + 1));
const printedP = Number(row.bootstrap_p), printedN = Number(row.bootstrap_n);
const printedSe = Number(row.bootstrap_se);
if (printedN !== n || Math.abs(printedP - bootP) > 1e-12 || Math.abs(printedSe - bootSe) > 1e-12) {
  failures.push(`tests.csv's bootstrap p ${printedP}, n ${printedN}, SE ${printedSe} are not ` +
                `fit.json's replicates' ${bootP}, ${n}, ${bootSe}`);
}
const zScore = Math.abs(printedP - mixtureP) / printedSe;
if (!(zScore <= 3)) {
  failures.push(`the bootstrap p ${printedP} is ${zScore.toFixed(2)} SEs from the mixture's ${mixtureP}`);
}
const zero = stats.filter(s => s < 1e-6).length / n;
const tail = stats.filter(s => s >= 2.706).length / n;
const tailSe = Math.sqrt(0.05 * 0.95 / n);
if (!(Math.abs(tail - 0.05) <= 3 * tailSe)) {
  failures.push(`${tail} of the replicate statistics reach 2.706, not 0.05 within 3 SEs (${tailSe.toFixed(4)})`);
}

const f = (v, d = 4) => v.toFixed(d);
console.log(`calibration of "${label}": ${families} nuclear families without probands, ${n} replicates`);
console.log(`  observed -2 ln lambda ${f(T)}; tests.csv: ${row.distribution}, p ${f(p, 5)} (here ${f(mixtureP, 5)})`);
console.log(`  bootstrap p ${f(printedP, 5)}, Monte Carlo SE ${f(printedSe, 5)} (${reaching} of ${n} reach it); ` +
            `${f(zScore, 2)} SEs from the mixture's p (at most 3)`);
console.log(`  replicate statistics at 0 (below 1e-6): ${f(zero, 3)} (the law: 0.5, binomial SE ${f(Math.sqrt(0.25 / n), 3)}; not tested)`);
console.log(`  replicate statistics >= 2.706: ${f(tail, 3)} (the law: 0.05, binomial SE ${f(tailSe, 3)})`);
console.log(`  ${seconds} s`);
if (failures.length) {
  for (const m of failures) console.error(`check-calibration.sh: ${m}`);
  process.exit(1);
}
console.log('check-calibration.sh: the bootstrap agrees with the asymptotic law');
EOF
