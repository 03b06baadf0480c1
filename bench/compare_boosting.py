#!/usr/bin/python3
"""Fits the engine's boosted trees and a reference library (XGBoost, Debian
package python3-xgboost) on the same synthetic data and compares held-out
quality and fitting time:

    bench/compare_boosting.py [--fit build-bench/boosted_trees_fit] [--quick]

(Debian's /usr/bin/python3 with python3-numpy and python3-xgboost.)

regression: held-out mean squared error; logistic: held-out log loss;
ranking (groups of 20 rows, one relevant row per group, like a spectrum's
candidates): held-out top-1 of the groups. Both sides get the same
settings (learning rate, depth, L2, min child weight, 255 bins, one
thread) and stop 20 rounds after their best validation round (each on its
own validation measure: the objective's loss here, NDCG@1 for the
reference's rankers). Fitting times are processor seconds. A training-time tool only:
the engine neither builds nor runs with XGBoost.
"""
import argparse
import math
import os
import subprocess
import sys
import tempfile
import time

import numpy as np

try:
    import xgboost as xgb
except ImportError:
    sys.exit("needs XGBoost: apt-get install -y python3-xgboost")

FEATURES = 30


def features(rng, n):
    x = rng.uniform(0.0, 1.0, size=(n, FEATURES))
    # Missing values in a few features, as the engine's rows will have.
    for f in (5, 6, 7):
        x[rng.uniform(size=n) < 0.1, f] = np.nan
    return x


def signal(x):
    x5 = np.nan_to_num(x[:, 5], nan=0.8)
    return (10 * np.sin(np.pi * x[:, 0] * x[:, 1]) + 20 * (x[:, 2] - 0.5) ** 2 + 10 * x[:, 3] + 5 * x[:, 4]
            + 4 * (x5 > 0.5) * x[:, 8] - 3 * np.isnan(x[:, 6]) + 2 * x[:, 9] * x[:, 10])


def make(kind, rng, n, group=20):
    x = features(rng, n)
    s = signal(x)
    if kind == "regression":
        return x, s + rng.normal(0.0, 1.0, n), None
    if kind == "logistic":
        p = 1 / (1 + np.exp(-(s - 14.0) / 2.0))
        return x, (rng.uniform(size=n) < p).astype(float), None
    groups = np.repeat(np.arange(n // group), group)
    noisy = (s + rng.normal(0.0, 2.0, n)).reshape(-1, group)
    y = np.zeros_like(noisy)
    y[np.arange(len(y)), noisy.argmax(axis=1)] = 1.0
    return x, y.ravel(), groups


def write(path, x, y, groups):
    g = groups if groups is not None else np.zeros(len(y))
    np.savetxt(path, np.column_stack([y, g, x]), fmt="%.17g")


def top1(pred, y, groups):
    p = pred.reshape(-1, 20)
    t = y.reshape(-1, 20)
    return float(np.mean(t[np.arange(len(t)), p.argmax(axis=1)] > 0))


def softmax_ce(pred, y):
    p = pred.reshape(-1, 20)
    t = y.reshape(-1, 20)
    m = p.max(axis=1, keepdims=True)
    logz = m[:, 0] + np.log(np.exp(p - m).sum(axis=1))
    return float(np.mean(logz - (p * t).sum(axis=1)))


def ours(fit, objective, files, params, tmp):
    out = os.path.join(tmp, "ours.txt")
    args = [fit, objective, files["train"], files["valid"], files["test"], out] + [
        f"{k}={v}" for k, v in params.items()]
    run = subprocess.run(args, capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit(run.stderr)
    info = run.stderr.strip().splitlines()[0]
    trees = int(info.split(" trees in ")[0].split()[-1])
    seconds = float(info.split(" trees in ")[1].split()[0])
    return np.loadtxt(out), trees, seconds


def reference(objective, data, params, threads):
    (xt, yt, gt), (xv, yv, gv), (xs, _, _) = data
    dtrain = xgb.DMatrix(xt, label=yt, missing=np.nan)
    dvalid = xgb.DMatrix(xv, label=yv, missing=np.nan)
    if gt is not None:
        dtrain.set_group(np.bincount(gt))
        dvalid.set_group(np.bincount(gv))
    p = {"objective": objective, "eta": params["eta"], "max_depth": params["depth"], "lambda": params["lambda"],
         "min_child_weight": params["min_child_weight"], "tree_method": "hist", "max_bin": 255,
         "nthread": threads, "seed": 1}
    if "base_score" in params:
        p["base_score"] = params["base_score"]
    if objective.startswith("rank:"):
        p["eval_metric"] = "ndcg@1"
    start = time.process_time()
    booster = xgb.train(p, dtrain, num_boost_round=params["rounds"], evals=[(dvalid, "valid")],
                        early_stopping_rounds=params["early_stopping"], verbose_eval=False)
    seconds = time.process_time() - start
    pred = booster.predict(xgb.DMatrix(xs, missing=np.nan), output_margin=True,
                           iteration_range=(0, booster.best_iteration + 1))
    return pred, booster.best_iteration + 1, seconds


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--fit", default=os.path.join(os.path.dirname(__file__), "..", "build-bench", "boosted_trees_fit"))
    ap.add_argument("--quick", action="store_true", help="smaller sets, fewer rounds")
    a = ap.parse_args()
    rng = np.random.default_rng(2024)
    n_train, n_valid, n_test = (8000, 2000, 8000) if a.quick else (80000, 20000, 40000)
    base = {"rounds": 200 if a.quick else 1000, "eta": 0.1, "depth": 6, "lambda": 1.0, "min_child_weight": 1.0,
            "bins": 255, "early_stopping": 20}
    print(f"XGBoost {xgb.__version__}; {n_train} training rows x {FEATURES} features, depth 6, eta 0.1")
    print(f"{'task':<12}{'side':<28}{'trees':>6}{'fit s':>9}  held-out")
    with tempfile.TemporaryDirectory() as tmp:
        for kind in ("regression", "logistic", "ranking"):
            data = [make(kind, rng, n) for n in (n_train, n_valid, n_test)]
            files = {}
            for name, (x, y, g) in zip(("train", "valid", "test"), data):
                files[name] = os.path.join(tmp, f"{kind}_{name}.txt")
                write(files[name], x, y, g)
            xs, ys, gs = data[2]
            params = dict(base)
            if kind == "regression":
                params["base_score"] = float(np.mean(data[0][1]))
                runs = [("squared_error", "reg:squarederror")]
                metric = lambda p: f"MSE {np.mean((p - ys) ** 2):.4f}"
            elif kind == "logistic":
                q = float(np.mean(data[0][1]))
                params["base_score"] = math.log(q / (1 - q))
                runs = [("logistic", "binary:logistic")]
                metric = lambda p: f"log loss {np.mean(np.logaddexp(0, p) - ys * p):.4f}"
            else:
                params["min_child_weight"] = 0.01
                runs = [("rank_softmax", None), ("rank_pairwise", "rank:pairwise"), ("rank_ndcg", "rank:ndcg")]
                metric = lambda p: f"top-1 {top1(p, ys, gs):.4f}  softmax CE {softmax_ce(p, ys):.4f}"
            for mine, theirs in runs:
                ours_params = dict(params)
                pred, trees, seconds = ours(a.fit, mine, files, ours_params, tmp)
                print(f"{kind:<12}{'vemra ' + mine:<28}{trees:>6}{seconds:>9.2f}  {metric(pred)}")
                if theirs is None:
                    continue
                ref_params = dict(params)
                if theirs == "binary:logistic":
                    ref_params["base_score"] = q  # a probability there
                for threads in (1,):
                    pred, trees, seconds = reference(theirs, data, ref_params, threads)
                    print(f"{'':<12}{'xgboost ' + theirs:<28}{trees:>6}{seconds:>9.2f}  {metric(pred)}")


if __name__ == "__main__":
    main()
