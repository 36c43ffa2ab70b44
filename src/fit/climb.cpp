// The quasi-Newton climb. B is the inverse of the negated Hessian's
// approximation in step units, kept positive definite by updating only on
// pairs of positive curvature; the direction is B times the gradient on the
// rows not held at a bound.
#include "fit/climb.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>

namespace segmix::fit {
namespace {

constexpr double kCentralStep = 1e-3;  // units, first gradient
constexpr double kForwardStep = 1e-6;  // units, later gradients
constexpr double kBoundInset = 1e-8;   // of the bound range
// A step goes at most `reach` units in any row: kLongestMove at first and
// after a step that was cut back or fell short of the cap, doubled up to
// kLongestReach after each step taken whole at the cap.
constexpr double kLongestMove = 1;
constexpr double kLongestReach = 16;
constexpr double kArmijo = 1e-4;
constexpr double kPromisedRise = 1e-10;
constexpr double kStall = 1e-11;
constexpr int kMostSteps = 200;
constexpr int kMostCuts = 16;

constexpr double kFailed = FailureSentinel;

bool Good(double v) { return v > kFailureThreshold; }

class Climber {
 public:
  Climber(const LogLikelihood& ln_lh, const ParameterTable& start,
          const std::vector<int>& rows)
      : ln_lh_(ln_lh),
        start_(start),
        rows_(rows),
        n_(static_cast<int>(rows.size())),
        x0_(n_),
        scale_(n_),
        low_(n_),
        high_(n_),
        coarse_(n_, 0.0) {
    // Under general transmission the gate refuses D above MU: the climb
    // then moves MU - D for D, a bound at 0 like any other.
    if (start.in_model[kTr1] != 0) {
      for (int i = 0; i < n_; ++i) {
        if (rows_[i] == kMU) mu_ = i;
        if (rows_[i] == kD) d_ = i;
      }
      if (mu_ < 0 || d_ < 0) mu_ = d_ = -1;
    }
    for (int i = 0; i < n_; ++i) {
      const int r = rows_[i];
      const double range = start.GR[r] - start.GL[r];
      x0_[i] = start.value[r];
      scale_[i] = start.step[r] != 0 ? std::abs(start.step[r]) : 0.01 * range;
      if (!(scale_[i] > 0)) scale_[i] = 1;
      if (r == kLambda) coarse_[i] = kLambdaDifferenceStep / scale_[i];
      const double inset = kBoundInset * range;
      low_[i] = (start.GL[r] + inset - x0_[i]) / scale_[i];
      high_[i] = (start.GR[r] - inset - x0_[i]) / scale_[i];
      if (!(low_[i] <= high_[i])) low_[i] = high_[i] = 0;
    }
    if (d_ >= 0) {
      // x0_[d_] is MU - D at the start; D's own bounds are left to the gate.
      x0_[d_] = std::max(0.0, start.value[kMU] - start.value[kD]);
      low_[d_] = -x0_[d_] / scale_[d_];
      high_[d_] = 1e6;
    }
  }

  ClimbEnd Run(const std::vector<KnownMaximum>& known) {
    ClimbEnd end;
    Eigen::VectorXd u = Clamp(Eigen::VectorXd::Zero(n_));
    double f = At(u);
    end.initial_ln_lh = f;
    if (!Good(f)) {
      end.failed_start = true;
      return Finish(end, u, f);
    }
    std::vector<Eigen::VectorXd> targets;
    for (const KnownMaximum& k : known) targets.push_back(UnitsOf(k.table));

    Eigen::VectorXd g, curvature;
    CentralGradient(u, f, g, curvature);
    Eigen::MatrixXd B = DiagonalStart(curvature);
    int stalls = 0;
    bool restarted = false;
    double reach = kLongestMove;
    for (end.iterations = 0; end.iterations < kMostSteps; ++end.iterations) {
      Eigen::VectorXd d = Direction(B, u, g);
      if (!(g.dot(d) > 0)) {
        B = DiagonalStart(curvature);
        d = Direction(B, u, g);
      }
      const double promised = 0.5 * g.dot(d);
      if (!(promised > kPromisedRise)) {
        end.converged = true;
        break;
      }
      for (std::size_t k = 0; k < targets.size(); ++k) {
        const double gap = known[k].ln_lh - f;
        if (gap < -1e-9 || gap > 2 || gap > 2 * promised + 0.01) continue;
        const double apart = (u - targets[k]).cwiseAbs().maxCoeff();
        const bool heading =
            (u + d - targets[k]).cwiseAbs().maxCoeff() <= 0.02 && apart <= 1;
        if (heading || (apart <= 0.1 && gap <= 0.05)) {
          end.joined = static_cast<int>(k);
          return Finish(end, u, f);
        }
      }
      const double longest = d.cwiseAbs().maxCoeff();
      const bool capped = longest > reach;
      if (capped) d *= reach / longest;

      // Cut the step back until it rises enough.
      double t = 1, fn = 0;
      Eigen::VectorXd un;
      bool accepted = false;
      for (int cut = 0; cut < kMostCuts; ++cut) {
        un = Clamp(u + t * d);
        fn = At(un);
        const double slope = g.dot(un - u);
        if (Good(fn) && fn >= f + kArmijo * slope && fn > f) {
          accepted = true;
          break;
        }
        if (!Good(fn)) {
          t *= 0.2;
        } else {
          // The minimum of the parabola through f, its slope and fn.
          const double curve = fn - f - slope;
          const double best = curve < 0 ? 0.5 * slope / -curve : 0.5;
          t *= std::clamp(best, 0.1, 0.5);
        }
      }
      if (!accepted) {
        // A quasi-Newton model gone wrong: start it again from the
        // curvature once; a second failure in a row ends the climb.
        if (!restarted) {
          restarted = true;
          CentralGradient(u, f, g, curvature);
          B = DiagonalStart(curvature);
          continue;
        }
        end.converged = promised < 1e-6;
        break;
      }
      restarted = false;
      reach =
          capped && t == 1 ? std::min(2 * reach, kLongestReach) : kLongestMove;
      Eigen::VectorXd gn;
      ForwardGradient(un, fn, gn);
      const Eigen::VectorXd s = un - u;
      const Eigen::VectorXd y = g - gn;  // gradient change of -ln LH
      const double sy = s.dot(y);
      if (sy > 1e-12 * s.norm() * y.norm()) {
        const double rho = 1 / sy;
        const Eigen::MatrixXd I = Eigen::MatrixXd::Identity(n_, n_);
        B = (I - rho * s * y.transpose()) * B * (I - rho * y * s.transpose()) +
            rho * s * s.transpose();
      }
      stalls = fn - f < kStall ? stalls + 1 : 0;
      u = un, f = fn, g = gn;
      if (stalls >= 2) {
        end.converged = true;
        break;
      }
    }
    return Finish(end, u, f);
  }

 private:
  ParameterTable TableAt(const Eigen::VectorXd& u) const {
    ParameterTable t = start_;
    for (int i = 0; i < n_; ++i) t.value[rows_[i]] = x0_[i] + scale_[i] * u[i];
    if (d_ >= 0) t.value[kD] = t.value[kMU] - t.value[kD];
    return t;
  }
  Eigen::VectorXd UnitsOf(const ParameterTable& t) const {
    Eigen::VectorXd u(n_);
    for (int i = 0; i < n_; ++i) {
      const double x = i == d_ ? t.value[kMU] - t.value[kD] : t.value[rows_[i]];
      u[i] = (x - x0_[i]) / scale_[i];
    }
    return u;
  }
  double At(const Eigen::VectorXd& u) {
    ++evaluations_;
    return ln_lh_(TableAt(u));
  }
  Eigen::VectorXd Clamp(Eigen::VectorXd u) const {
    for (int i = 0; i < n_; ++i) u[i] = std::clamp(u[i], low_[i], high_[i]);
    return u;
  }
  // The gradient by central differences where both sides can be evaluated
  // (else one-sided, on the side that can), and the diagonal second
  // differences. A row with neither side is held (gradient 0).
  void CentralGradient(const Eigen::VectorXd& u, double f, Eigen::VectorXd& g,
                       Eigen::VectorXd& curvature) {
    g.resize(n_);
    curvature.resize(n_);
    for (int i = 0; i < n_; ++i) {
      const double h = coarse_[i] > 0 ? coarse_[i] : kCentralStep;
      const double up = u[i] + h <= high_[i] ? Along(u, i, h) : kFailed;
      const double down = u[i] - h >= low_[i] ? Along(u, i, -h) : kFailed;
      g[i] = curvature[i] = 0;
      if (Good(up) && Good(down)) {
        g[i] = (up - down) / (2 * h);
        curvature[i] = (up - 2 * f + down) / (h * h);
        continue;
      }
      const double sign = Good(up) ? 1 : -1;
      const double f1 = Good(up) ? up : down;
      if (!Good(f1)) continue;
      const double f2 = Along(u, i, 2 * sign * h);
      if (!Good(f2)) {
        g[i] = sign * (f1 - f) / h;
        continue;
      }
      g[i] = sign * (-3 * f + 4 * f1 - f2) / (2 * h);
      curvature[i] = (f - 2 * f1 + f2) / (h * h);
    }
  }
  // Forward differences, inward at an upper bound, the other way when the
  // point is refused; a row with neither side is held (gradient 0).
  void ForwardGradient(const Eigen::VectorXd& u, double f, Eigen::VectorXd& g) {
    g.resize(n_);
    for (int i = 0; i < n_; ++i) {
      if (coarse_[i] > 0) {
        g[i] = CoarseDerivative(u, f, i);
        continue;
      }
      double h = u[i] + kForwardStep <= high_[i] ? kForwardStep : -kForwardStep;
      double fv = Along(u, i, h);
      if (!Good(fv) && u[i] - h >= low_[i] && u[i] - h <= high_[i]) {
        h = -h;
        fv = Along(u, i, h);
      }
      g[i] = Good(fv) ? (fv - f) / h : 0;
    }
  }
  // A coarse row's derivative by central differences (one-sided where a
  // side is outside the bounds or refused; 0 when neither side can be had).
  double CoarseDerivative(const Eigen::VectorXd& u, double f, int i) {
    const double h = coarse_[i];
    const double up = u[i] + h <= high_[i] ? Along(u, i, h) : kFailed;
    const double down = u[i] - h >= low_[i] ? Along(u, i, -h) : kFailed;
    if (Good(up) && Good(down)) return (up - down) / (2 * h);
    if (Good(up)) return (up - f) / h;
    if (Good(down)) return (f - down) / h;
    return 0;
  }
  double Along(const Eigen::VectorXd& u, int i, double h) {
    Eigen::VectorXd v = u;
    v[i] += h;
    return At(v);
  }
  // The inverse of the negated diagonal curvature where it is concave, else
  // one unit per unit of gradient at most.
  Eigen::MatrixXd DiagonalStart(const Eigen::VectorXd& curvature) const {
    Eigen::MatrixXd B = Eigen::MatrixXd::Zero(n_, n_);
    for (int i = 0; i < n_; ++i) {
      B(i, i) = curvature[i] < -1e-6 ? 1 / -curvature[i] : 1;
    }
    return B;
  }
  // The quasi-Newton direction on the rows not held: a row at a bound whose
  // gradient points outside is held, and the direction solves the open rows'
  // block of the Hessian approximation B^-1 (not B's block, which would
  // still carry the held rows' coupling).
  Eigen::VectorXd Direction(const Eigen::MatrixXd& B, const Eigen::VectorXd& u,
                            const Eigen::VectorXd& g) const {
    std::vector<int> open;
    for (int i = 0; i < n_; ++i) {
      const bool held =
          (u[i] <= low_[i] && g[i] < 0) || (u[i] >= high_[i] && g[i] > 0);
      if (!held) open.push_back(i);
    }
    Eigen::VectorXd d = Eigen::VectorXd::Zero(n_);
    if (open.empty()) return d;
    const int k = static_cast<int>(open.size());
    if (k == n_) return B * g;
    const Eigen::MatrixXd H = B.ldlt().solve(Eigen::MatrixXd::Identity(n_, n_));
    Eigen::MatrixXd Hk(k, k);
    Eigen::VectorXd gk(k);
    for (int a = 0; a < k; ++a) {
      gk[a] = g[open[a]];
      for (int b = 0; b < k; ++b) Hk(a, b) = H(open[a], open[b]);
    }
    const Eigen::VectorXd dk = Hk.ldlt().solve(gk);
    for (int a = 0; a < k; ++a) d[open[a]] = dk[a];
    return d;
  }
  ClimbEnd& Finish(ClimbEnd& end, const Eigen::VectorXd& u, double f) {
    end.table = TableAt(u);
    end.ln_lh = f;
    end.evaluations = evaluations_;
    return end;
  }

  const LogLikelihood& ln_lh_;
  const ParameterTable& start_;
  const std::vector<int>& rows_;
  int n_;
  Eigen::VectorXd x0_, scale_, low_, high_;
  // Per row: the difference step in units for a row whose ln LH is smooth
  // only on a coarse scale (lambda: central differences of
  // kLambdaDifferenceStep); 0 for the others.
  std::vector<double> coarse_;
  int mu_ = -1, d_ = -1;  // indices of MU and D when D moves as MU - D
  long evaluations_ = 0;
};

}  // namespace

ClimbEnd Climb(const LogLikelihood& ln_lh, const ParameterTable& start,
               const std::vector<int>& free_rows,
               const std::vector<KnownMaximum>& known) {
  if (free_rows.empty()) {
    ClimbEnd end;
    end.table = start;
    end.evaluations = 1;
    end.initial_ln_lh = end.ln_lh = ln_lh(start);
    end.failed_start = !Good(end.ln_lh);
    end.converged = !end.failed_start;
    return end;
  }
  Climber climber(ln_lh, start, free_rows);
  return climber.Run(known);
}

}  // namespace segmix::fit
