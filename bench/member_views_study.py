#!/usr/bin/env python3
"""The member-views and scaling study: the default ensemble beside members
that see their own share of the features (max_features) and their own draw
of the patterns (bootstrap), beside the other scalings (standard, rank)
and votes weighted by out-of-bag accuracy (oob_weights), with 1-NN, a
tuned RBF SVC (nested) and a random forest on the same folds, on the
bundled sets and on generated stress sets.

    PYTHONPATH=build/python python3 bench/member_views_study.py [--sets iris,wine]
        [--settings defaults,half] [--no-sklearn]

The folds are `qir cv`'s own (5, stratified, seed 1); every scikit-learn
model sees the features scaled to [0, 1] by the training folds' range, as
QIR does by default. The SVC's C and gamma are chosen on the four training
folds alone (3-fold grid search inside each), so its figure is nested like
every QIR setting here (none is chosen on the data). Each QIR cell gives
the mean accuracy over the folds, then its ROC AUC from predict_proba
(one class against the rest, averaged), the nodes of all members (node
evaluations per pattern when classifying) and the seconds of fit and
predict over the five folds. docs/accuracy.md shows a run; it takes tens
of minutes on a shared 2-core machine, so --sets picks a few.

    PYTHONPATH=build/python python3 bench/member_views_study.py \
        --levers rows0.6x25,ties\ by\ prior [--fold-seed 2 --seed-offset 100 \
        --stress-seed 3316 --fresh 3317]

--levers sets cheap levers (LEVERS: more members on a share of the rows,
members at several D or at two scalings, ties broken by the classes'
sizes) beside the defaults on the same folds, with each lever's mean
per-fold gain and its nodes as a multiple of the defaults'. The rule for
adopting one was fixed before the first run: on the first run (folds and
members of seed 1, stress sets of seed 33) a lever is a candidate when it
gains on the mean of the four bundled sets, loses no more than 0.5 point
on any bundled or stress set, and costs at most 1.5 times the defaults'
nodes on every set; the candidate with the largest mean gain is then run
on fresh draws (folds of seed 2, members' seeds shifted by 100, stress
sets of seed 3316, the outlier study's fresh sets of seed 3317) and is
adopted only if it gains there too on the mean of the bundled sets and
loses no more than 0.5 point on any set, within the same node budget.

    PYTHONPATH=build/python python3 bench/member_views_study.py --baseline defaults21 \
        --member-seeds 3 --levers views21,strat0.7x25,D0.71-1.41,sqrtM-M/2

--baseline names the lever the gains are measured against (defaults21:
today's 21 members), and --member-seeds makes every figure the mean over
that many draws of the members (one draw moves a small set's figure by a
point or more). The levers in VIEWS are members the library cannot draw
yet (rows stratified or balanced by class, a D drawn per member, a share
of the features drawn per member), emulated by one-member fits with
their own seeds; views21 is the defaults emulated the same way, their
baseline with the same streams.
"""
import argparse
import os
import sys
import tempfile
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from accuracy import BUNDLED, DATA, read_csv, write_csv  # noqa: E402


def stress_sets(folder, seed=33, suffix=""):
    """(name, path) of the generated stress sets, written into `folder`:
    each aims at one weakness (irrelevant features, scales and outliers,
    unequal classes, curved boundaries). Another seed draws them anew, their
    names ending in `suffix`."""
    rng = np.random.default_rng(seed)
    sets = []

    def keep(name, X, y):
        name += suffix
        path = os.path.join(folder, name + ".csv")
        write_csv(path, X, y)
        sets.append((name, path))

    # 10 informative continuous features among 200, the rest noise.
    n = 1500
    y = rng.integers(1, 4, n)
    centres = rng.normal(0, 1.3, (3, 10))
    keep("irrelevant_continuous",
         np.column_stack([centres[y - 1] + rng.normal(0, 1, (n, 10)), rng.normal(0, 1, (n, 190))]),
         y)
    # 10 informative binary features among 180, most of the rest carry nothing.
    y = rng.integers(1, 3, n)
    informative = (rng.random((n, 10)) < np.where(y[:, None] == 1, 0.25, 0.75)).astype(float)
    keep("irrelevant_binary",
         np.column_stack([informative, (rng.random((n, 170)) < 0.5).astype(float)]), y)
    # 18 features on scales from 1e-3 to 1e4, 2% outliers at 50 times the scale.
    n = 1200
    y = rng.integers(1, 4, n)
    centres = rng.normal(0, 1, (3, 18))
    scales = 10.0 ** rng.uniform(-3, 4, 18)
    X = (centres[y - 1] + rng.normal(0, 0.9, (n, 18))) * scales
    outliers = rng.random((n, 18)) < 0.02
    X[outliers] += 50 * scales[np.nonzero(outliers)[1]] * rng.choice([-1, 1], outliers.sum())
    keep("scales_outliers", X, y)
    # Unequal classes: 85% / 12% / 3%, overlapping.
    n = 1500
    y = rng.choice([1, 2, 3], n, p=[0.85, 0.12, 0.03])
    keep("unequal", rng.normal(0, 1, (n, 6)) + (y[:, None] - 1) * 1.1, y)
    # Two spirals, and a circle in a square (curved boundaries, 2 features).
    n = 1000
    t = np.sqrt(rng.random(n)) * 3 * np.pi
    y = rng.integers(1, 3, n)
    sign = np.where(y == 1, 1, -1)
    keep("spirals", np.column_stack([sign * t * np.cos(t), sign * t * np.sin(t)])
         + rng.normal(0, 0.3, (n, 2)), y)
    X = rng.random((n, 2))
    keep("circle", X, 1 + (((X - 0.5) ** 2).sum(axis=1) < 0.16).astype(int))
    return sets


SETTINGS = {
    "defaults": {},
    "minmax": {"scale": True},  # the default scaling until the outlier rule
    "auto": {"scale": "auto"},
    "half": {"max_features": 0.5},
    "bootstrap": {"bootstrap": True},
    "half+bootstrap": {"max_features": 0.5, "bootstrap": True},
    "0.7": {"max_features": 0.7},
    "0.7+bootstrap": {"max_features": 0.7, "bootstrap": True},
    "0.7x25": {"max_features": 0.7, "n_voters": 25},
    "standard": {"scale": "standard"},
    "rank": {"scale": "rank"},
    "rank+0.7": {"scale": "rank", "max_features": 0.7},
    "rank+bootstrap": {"scale": "rank", "bootstrap": True},
    "bootstrap+oob": {"bootstrap": True, "oob_weights": True},
    "half+bootstrap+oob": {"max_features": 0.5, "bootstrap": True, "oob_weights": True},
    "x51": {"n_voters": 51},
    "ratio1": {"ratio": 1.0},
    "ratio1x51": {"ratio": 1.0, "n_voters": 51},
}

# Cheap levers within 1.5 times the defaults' nodes, each a list of parts
# whose members vote together: (members, options, seed of their draws).
# "rows" is a member's share of the training rows, drawn without
# replacement (max_samples as a count, set per fold); "D" a factor of the
# default size bound sqrt(M). A part's votes are its shares times its
# members, so the mixtures count every member's vote once, as one
# ensemble of their members would.
LEVERS = {
    "defaults": [(15, {}, 1)],
    "rows0.7x20": [(20, {"rows": 0.7}, 1)],
    "rows0.6x25": [(25, {"rows": 0.6}, 1)],
    "rows0.5x30": [(30, {"rows": 0.5}, 1)],
    "D0.7/1/1.4": [(5, {"D": 0.71}, 1), (5, {}, 2), (5, {"D": 1.41}, 3)],
    "D0.84/1/1.19": [(5, {"D": 0.84}, 1), (5, {}, 2), (5, {"D": 1.19}, 3)],
    "minmax+rank": [(8, {"scale": True}, 1), (7, {"scale": "rank"}, 2)],
    "ties by prior": [(15, {}, 1)],
    # A second round, after the first found no candidate.
    "x21": [(21, {}, 1)],
    "rows0.8x18": [(18, {"rows": 0.8}, 1)],
    "D0.84": [(15, {"D": 0.84}, 1)],
    "D1.19": [(15, {"D": 1.19}, 1)],
    "D0.84/1.19": [(8, {"D": 0.84}, 1), (7, {"D": 1.19}, 2)],
    # 21 members, each allowed the presentations a member of 15 has (the
    # training work 21/15 times larger), so that every member of the
    # bundled sets converges as before.
    "x21 at 15's presentations": [(21, {"presentations_of": 15}, 1)],
}
TIES_BY_PRIOR = {"ties by prior"}
# The defaults' members with each class's votes scaled by (its training
# patterns / the largest class's) ** power: a class that few patterns, and
# so few nodes, stand for needs more votes to win.
PRIOR_POWER = {"prior^0.25 vote": 0.25, "prior^0.5 vote": 0.5,
               # the other way, after both lost on unequal
               "prior^-0.25 vote": -0.25, "prior^-0.5 vote": -0.5}
LEVERS.update({name: [(21, {}, 1)] for name in PRIOR_POWER})

# Members whose views the library cannot draw yet, emulated member by member
# (one-member fits, each at the presentations a member of the ensemble
# has): ("views", members, draw) where draw(rng, y_train) gives the
# member's rows (indices into the training rows; None: all of them) and
# its options. Where a member sees a share of the rows, the screen and the
# scaling are the whole training fold's, as the library's own draws of
# rows keep them: the member trains on the screened columns, min-max by
# the fold's ranges (rank, where the fold's rule picks it, is fitted on
# the member's rows).
def _stratified(share):
    def draw(rng, y):
        rows = [rng.choice(np.flatnonzero(y == c), max(1, int(round(share * np.sum(y == c)))),
                           replace=False) for c in np.unique(y)]
        return np.concatenate(rows), {}
    return draw


def _weighted(draw):
    """The same draws, each member's vote counting its accuracy on the
    training rows its draw left out, (right + 1) / (left out + 2)."""
    def weighted(rng, y):
        rows, options = draw(rng, y)
        return rows, dict(options, oob=True)
    return weighted


def _balanced(share):
    def draw(rng, y):
        classes = np.unique(y)
        each = max(1, int(round(share * len(y) / len(classes))))
        return np.concatenate([rng.choice(np.flatnonzero(y == c), each, replace=True)
                               for c in classes]), {}
    return draw


def _d_around(low, high):
    def draw(rng, y):
        return None, {"D_factor": float(np.exp(rng.uniform(np.log(low), np.log(high))))}
    return draw


def _subspace_up_to(high_share):
    """Each member a share of the screened features drawn between sqrt(m)/m
    and high_share (m of them; only where m >= 16)."""
    def draw(rng, y):
        return None, {"subspace": high_share}
    return draw


def _whole():
    def draw(rng, y):
        return None, {}
    return draw


def _best_fit_at(d_factor):
    """Every member at D = d_factor * sqrt(M) and today's alpha, voting on
    every pattern: where it leaves one unclassified, its best-fitting node
    votes. At a D so small that every training pattern keeps a node of its
    own, one such member is 1-NN."""
    def draw(rng, y):
        from qir import _core
        return None, {"D_factor": d_factor, "best_fit": True,
                      "alpha": _core.training_defaults()["alpha"]}
    return draw


VIEWS = {
    # The defaults' views, member by member: the emulated levers' baseline
    # (the same streams as theirs; the library's members draw other orders).
    "views21": (21, _whole()),
    "strat0.7x25": (25, _stratified(0.7)),
    "strat0.5x30": (30, _stratified(0.5)),
    "strat0.85x21": (21, _stratified(0.85)),
    "balanced0.7x25": (25, _balanced(0.7)),
    "D0.71-1.41": (21, _d_around(0.71, 1.41)),
    # A second round, after the first found no candidate.
    "strat0.7x25+oob": (25, _weighted(_stratified(0.7))),
    "strat0.85x25+oob": (25, _weighted(_stratified(0.85))),
    "strat0.85x25": (25, _stratified(0.85)),
    "D0.84-1.19": (21, _d_around(0.84, 1.19)),
    "D0.71-1": (21, _d_around(0.71, 1.0)),
    "sqrtM-M/2": (21, _subspace_up_to(0.5)),
    # How near 1-NN the nodes come: smaller nodes, fewer members, each
    # member answering every pattern.
    "points x1": (1, _best_fit_at(0.01)),
    "best fit D0.7x9": (9, _best_fit_at(0.7)),
    "best fit D0.5x9": (9, _best_fit_at(0.5)),
    "best fit D0.7x23": (23, _best_fit_at(0.7)),
}
LEVERS.update({
    # The defaults since 21 members: the baseline of the rounds after them.
    "defaults21": [(21, {}, 1)],
    "screened0.5x21": [(21, {"max_features": 0.5}, 1)],
    "screened0.7x21": [(21, {"max_features": 0.7}, 1)],
})
LEVERS.update({name: [("views",) + view] for name, view in VIEWS.items()})
# Every lever up to the round of the node's own parameters ran at the alpha
# of the defaults then, 0.1; it is kept so that their tables reproduce.
BEFORE_ALPHA_ROUND = {"alpha": 0.1}
# The defaults since that round: 23 members at alpha 0.03.
LEVERS["defaults23"] = [(23, {"alpha": 0.03}, 1)]
# Around the new defaults: D, ratio and alpha a step away, and more members.
LEVERS.update({
    "a0.03x23 D0.9": [(23, {"alpha": 0.03, "D": 0.9}, 1)],
    "a0.03x23 D1.1": [(23, {"alpha": 0.03, "D": 1.1}, 1)],
    "a0.03x23 ratio0.7": [(23, {"alpha": 0.03, "ratio": 0.7}, 1)],
    "a0.03x23 ratio0.8": [(23, {"alpha": 0.03, "ratio": 0.8}, 1)],
    "a0.02x23": [(23, {"alpha": 0.02}, 1)],
    "a0.03x25": [(25, {"alpha": 0.03}, 1)],
})
# The node's own parameters at other fixed values, 21 members each: the
# search varies some of them per data set, but none was tried as the
# default of every set.
LEVERS.update({
    "rate0.9": [(21, {"learning_rate": 0.9}, 1)],
    "rate0.75": [(21, {"learning_rate": 0.75}, 1)],
    "rate0.5": [(21, {"learning_rate": 0.5}, 1)],
    "alpha0.03": [(21, {"alpha": 0.03}, 1)],
    "alpha0.3": [(21, {"alpha": 0.3}, 1)],
    "alpha1": [(21, {"alpha": 1.0}, 1)],
    "ratio0.6": [(21, {"ratio": 0.6}, 1)],
    "ratio0.9": [(21, {"ratio": 0.9}, 1)],
    "vigilance0.3": [(21, {"vigilance": 0.3}, 1)],
    "ct1": [(21, {"ct_option": 1}, 1)],
    # A second round: alpha around the one candidate of the first, and its
    # fewer nodes spent on more members.
    "alpha0.01": [(21, {"alpha": 0.01}, 1)],
    "alpha0.02": [(21, {"alpha": 0.02}, 1)],
    "alpha0.05": [(21, {"alpha": 0.05}, 1)],
    "alpha0.03x23": [(23, {"alpha": 0.03}, 1)],
    "alpha0.05x23": [(23, {"alpha": 0.05}, 1)],
    # Trimming the nodes no pattern chose in the last presentation: fewer
    # nodes to classify by, so more members for the same cost.
    "trim": [(21, {"trim_option": 1}, 1)],
    "trimx25": [(25, {"trim_option": 1}, 1)],
    "alpha0.03+trimx25": [(25, {"alpha": 0.03, "trim_option": 1}, 1)],
})


def study_sets(folder, stress_seed=33, fresh=None, names=None):
    """(name, path) of the bundled sets, the stress sets of `stress_seed`
    (written into `folder`) and, with `fresh`, bench/outlier_rule.py's
    fresh sets of that seed; `names` (comma-separated) picks some."""
    sets = [(name, os.path.join(DATA, name + ".csv")) for name in BUNDLED]
    sets += stress_sets(folder, stress_seed, "" if stress_seed == 33 else f"_{stress_seed}")
    if fresh is not None:
        from outlier_rule import fresh_sets
        sets += fresh_sets(folder, fresh)
    return [s for s in sets if names is None or s[0] in names.split(",")]


def screened_count(X, y):
    """How many features the screen leaves the members of a fit on (X, y)."""
    import qir
    kept = qir.QIRClassifier(oflag=0, n_voters=1, max_list_presentations=1).fit(X, y).member_features_
    return X.shape[1] if kept[0] is None or len(kept[0]) == 0 else len(kept[0])


def view_votes(X, y, train, test, members, draw, seed, classes):
    """Votes (test rows x classes) of `members` one-member fits, each on the
    view `draw` gives it, and their nodes."""
    import qir
    Xt, yt = X[train], y[train]
    rng = np.random.default_rng(seed)
    whole, kept, seen = None, None, None
    varying = int(np.sum(Xt.max(axis=0) > Xt.min(axis=0)))
    counts, nodes = np.zeros((int(test.sum()), len(classes))), 0
    best = np.zeros_like(counts)
    for k in range(members):
        rows, options = draw(rng, yt)
        fit_options = {"oflag": 0, "n_voters": 1, "random_state": seed * 1000 + k + 1,
                       **BEFORE_ALPHA_ROUND}
        if "alpha" in options:
            fit_options["alpha"] = options["alpha"]
        Xm, Xs = Xt, X[test]
        if rows is not None:
            if whole is None:
                whole = qir.QIRClassifier(oflag=0, n_voters=1, random_state=seed).fit(Xt, yt)
                kept = whole.member_features_[0]
                kept = np.arange(X.shape[1]) if kept is None or len(kept) == 0 else np.asarray(kept)
            # The fold's screen and scaling, not the member's own.
            Xm, Xs = Xt[rows][:, kept], X[test][:, kept]
            fit_options["screen"] = False
            if whole.scaling_ == "minmax":
                fit_options.update(scale=True, scale_from=(np.asarray(whole.feature_min_)[kept],
                                                           np.asarray(whole.feature_max_)[kept]))
            else:
                fit_options["scale"] = whole.scaling_
        ym = yt if rows is None else yt[rows]
        fit_options["max_list_presentations"] = int(qir._core.default_max_presentations(
            len(ym), members))
        if "D_factor" in options:
            fit_options["D"] = options["D_factor"] * np.sqrt(max(varying, 1))
        if "subspace" in options:
            # Only where the screen leaves many features: a few are all needed.
            high_share = options["subspace"]
            if seen is None:
                seen = screened_count(Xt, yt)
            if seen >= 16:
                fit_options["max_features"] = float(rng.uniform(np.sqrt(seen) / seen, high_share))
        model = qir.QIRClassifier(**fit_options).fit(Xm, ym)
        columns = np.searchsorted(classes, model.classes_)
        weight = 1.0
        if options.get("oob"):
            left = np.setdiff1d(np.arange(len(yt)), rows)
            right = np.sum(model.predict(Xt[left][:, kept]) == yt[left]) if len(left) else 0
            weight = (right + 1) / (len(left) + 2)
        # A member that leaves a pattern unclassified casts no vote for it;
        # only where none votes do the best-fitting nodes vote (as the
        # library's vote does).
        best_fit = model.predict_proba(Xs)
        own = best_fit if options.get("best_fit") else model._vote(model._prepared(Xs), False)[1]
        counts[:, columns] += weight * own
        best[:, columns] += weight * best_fit
        nodes += sum(len(n) for n, _ in model.members_)
    unvoted = counts.sum(axis=1) == 0
    counts[unvoted] = best[unvoted]
    return counts, nodes


def lever_scores(X, y, fold, lever, seed_offset=0, member_seeds=1):
    """lever_scores_once averaged over `member_seeds` draws of the members
    (seed offsets seed_offset, + 1000, + 2000, ...): one draw's members move
    a small set's figure by a point or more."""
    runs = [lever_scores_once(X, y, fold, lever, seed_offset + 1000 * r)
            for r in range(member_seeds)]
    return (np.mean([r[0] for r in runs], axis=0), np.mean([r[1] for r in runs]),
            np.mean([r[2] for r in runs]), sum(r[3] for r in runs) / member_seeds)


def lever_scores_once(X, y, fold, lever, seed_offset=0):
    """Per-fold accuracy, mean ROC AUC, mean nodes and CPU seconds of the
    members of `lever` voting together. Ties go to the lowest class, as the
    library's vote does, or (TIES_BY_PRIOR) to the tied class with the most
    training patterns."""
    import qir
    correct, aucs, nodes, seconds = [], [], [], 0.0
    for k in range(5):
        train, test = fold != k, fold == k
        started = time.process_time()
        counts, fold_nodes, classes = 0, 0, None
        for part in LEVERS[lever]:
            if part[0] == "views":
                classes = np.unique(y[train])
                part_counts, part_nodes = view_votes(X, y, train, test, part[1], part[2],
                                                     1 + seed_offset, classes)
                counts, fold_nodes = counts + part_counts, fold_nodes + part_nodes
                continue
            members, options, seed = part
            options = {**BEFORE_ALPHA_ROUND, **options}
            if "rows" in options:
                options["max_samples"] = int(round(options.pop("rows") * train.sum()))
            if "presentations_of" in options:
                options["max_list_presentations"] = int(qir._core.default_max_presentations(
                    int(train.sum()), options.pop("presentations_of")))
            if "D" in options:
                varying = int(np.sum(X[train].max(axis=0) > X[train].min(axis=0)))
                options["D"] = options["D"] * np.sqrt(max(varying, 1))
            model = qir.QIRClassifier(oflag=0, n_voters=members, random_state=seed + seed_offset,
                                      **options).fit(X[train], y[train])
            counts = counts + members * model.predict_proba(X[test])
            fold_nodes += sum(len(n) for n, _ in model.members_)
            classes = model.classes_
        if lever in PRIOR_POWER:
            prior = np.array([np.sum(y[train] == c) for c in classes], dtype=float)
            counts = counts * (prior / prior.max()) ** PRIOR_POWER[lever]
        if lever in TIES_BY_PRIOR:
            prior = np.array([np.sum(y[train] == c) for c in classes])
            top = counts == counts.max(axis=1, keepdims=True)
            labels = classes[np.argmax(np.where(top, prior, -1), axis=1)]
        else:
            labels = classes[np.argmax(counts, axis=1)]
        seconds += time.process_time() - started
        correct.append(100 * np.mean(labels == y[test]))
        aucs.append(auc(y[test], counts / counts.sum(axis=1, keepdims=True), classes))
        nodes.append(fold_nodes)
    return np.array(correct), np.mean(aucs), np.mean(nodes), seconds


def auc(y, proba, classes):
    from sklearn.metrics import roc_auc_score
    if len(classes) == 2:
        return roc_auc_score(y == classes[1], proba[:, 1])
    return roc_auc_score(y, proba, multi_class="ovr", labels=classes)


def qir_scores(X, y, fold, setting):
    import qir
    options = dict(setting)
    correct, aucs, nodes, seconds = [], [], [], 0.0
    for k in range(5):
        train, test = fold != k, fold == k
        started = time.process_time()
        model = qir.QIRClassifier(oflag=0, **options)
        model.fit(X[train], y[train])
        proba = model.predict_proba(X[test])
        labels = model.classes_[np.argmax(proba, axis=1)]
        seconds += time.process_time() - started
        correct.append(100 * np.mean(labels == y[test]))
        aucs.append(auc(y[test], proba, model.classes_))
        nodes.append(sum(len(n) for n, _ in model.members_))
    return np.mean(correct), np.mean(aucs), np.mean(nodes), seconds


def scaled_by_training(train, test):
    low, high = train.min(axis=0), train.max(axis=0)
    span = np.where(high > low, high - low, 1)
    scale = lambda Z: np.clip((Z - low) / span, 0, 1)
    return scale(train), scale(test)


def sklearn_models():
    from sklearn.ensemble import RandomForestClassifier
    from sklearn.model_selection import GridSearchCV
    from sklearn.neighbors import KNeighborsClassifier
    from sklearn.svm import SVC
    grid = {"C": [1, 10, 100], "gamma": ["scale", 0.1, 1]}
    return {"1-NN": lambda: KNeighborsClassifier(1),
            "SVC (tuned)": lambda: GridSearchCV(SVC(), grid, cv=3, n_jobs=1),
            "RF": lambda: RandomForestClassifier(random_state=0, n_jobs=1)}


def sklearn_scores(X, y, fold):
    scores = {}
    for name, make in sklearn_models().items():
        correct, aucs = [], []
        for k in range(5):
            train, test = fold != k, fold == k
            scaled_train, scaled_test = scaled_by_training(X[train], X[test])
            model = make().fit(scaled_train, y[train])
            correct.append(100 * np.mean(model.predict(scaled_test) == y[test]))
            if name == "RF":
                aucs.append(auc(y[test], model.predict_proba(scaled_test), model.classes_))
        scores[name] = f"{np.mean(correct):.2f}" + (f" (AUC {np.mean(aucs):.3f})" if aucs else "")
    return scores


def lever_table(sets, levers, fold_seed, seed_offset, with_sklearn, baseline="defaults",
                member_seeds=1):
    """The levers beside the defaults (the same folds, members drawn from
    seeds shifted by `seed_offset`): mean accuracy, then the mean per-fold
    gain over the defaults with its standard error, ROC AUC, the nodes as a
    multiple of the defaults' and the CPU seconds."""
    from qir import _core
    head = ["data", baseline] + levers + (list(sklearn_models()) if with_sklearn else [])
    print("| " + " | ".join(head) + " |")
    print("|" + "---|" * len(head), flush=True)
    for name, path in sets:
        X, y = read_csv(path)
        fold = np.asarray(_core.stratified_folds(list(y), 5, fold_seed))
        base, base_auc, base_nodes, base_seconds = lever_scores(X, y, fold, baseline, seed_offset,
                                                                member_seeds)
        cells = [name, f"{base.mean():.2f} (AUC {base_auc:.3f}, {base_nodes:.0f} nodes, "
                       f"{base_seconds:.2f} s)"]
        for lever in levers:
            correct, area, nodes, seconds = lever_scores(X, y, fold, lever, seed_offset,
                                                         member_seeds)
            gain = correct - base
            cells.append(f"{correct.mean():.2f} ({gain.mean():+.2f} ± {gain.std(ddof=1) / np.sqrt(5):.2f}, "
                         f"AUC {area:.3f}, {nodes / base_nodes:.2f}x nodes, {seconds:.2f} s)")
        if with_sklearn:
            cells += list(sklearn_scores(X, y, fold).values())
        print("| " + " | ".join(cells) + " |", flush=True)


def main():
    import warnings
    from qir import _core
    warnings.simplefilter("ignore")  # the data's warnings, once per member and fold
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--settings", default=",".join(SETTINGS))
    parser.add_argument("--levers", help="the cheap levers (LEVERS) beside the defaults instead")
    parser.add_argument("--fold-seed", type=int, default=1, help="seed of the folds (levers)")
    parser.add_argument("--seed-offset", type=int, default=0,
                        help="added to the seeds of the members' draws (levers)")
    parser.add_argument("--stress-seed", type=int, default=33, help="seed of the stress sets")
    parser.add_argument("--fresh", type=int, metavar="SEED",
                        help="add bench/outlier_rule.py's fresh sets drawn with SEED")
    parser.add_argument("--baseline", default="defaults",
                        help="the lever the others' gains are measured against")
    parser.add_argument("--member-seeds", type=int, default=1,
                        help="draws of the members each figure is the mean of (levers)")
    parser.add_argument("--sets")
    parser.add_argument("--no-sklearn", action="store_true")
    args = parser.parse_args()
    settings = args.settings.split(",")
    with tempfile.TemporaryDirectory() as folder:
        sets = study_sets(folder, args.stress_seed, args.fresh, args.sets)
        if args.levers:
            return lever_table(sets, args.levers.split(","), args.fold_seed, args.seed_offset,
                               not args.no_sklearn, args.baseline, args.member_seeds)
        head = ["data"] + settings
        if not args.no_sklearn:
            head += list(sklearn_models())
        print("| " + " | ".join(head) + " |")
        print("|" + "---|" * len(head))
        for name, path in sets:
            X, y = read_csv(path)
            fold = np.asarray(_core.stratified_folds(list(y), 5, 1))
            cells = [name]
            for setting in settings:
                mean, area, nodes, seconds = qir_scores(X, y, fold, SETTINGS[setting])
                cells.append(f"{mean:.2f} (AUC {area:.3f}, {nodes:.0f} nodes, {seconds:.2f} s)")
            if not args.no_sklearn:
                cells += list(sklearn_scores(X, y, fold).values())
            print("| " + " | ".join(cells) + " |", flush=True)


if __name__ == "__main__":
    sys.exit(main())
