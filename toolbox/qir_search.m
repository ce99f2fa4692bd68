function [ranked, best, model, outcome] = qir_search(X, y, varargin)
%QIR_SEARCH  Look for a QIR training setting that beats the defaults, by cross-validation.
%   ranked = qir_search(X, y)
%   [ranked, best, model, outcome] = qir_search(X, y, 'Name', value, ...)
%
%   The search of 'qir search', on the patterns X with labels y alone:
%   cross-validates (qir_cv, the same folds for all) every node setting of
%   the grid below with one shuffled member each and ranks them by mean
%   accuracy, then fewer unclassified patterns, then fewer nodes; tries the
%   best with ensembles of several sizes; and keeps the defaults of qir_fit
%   unless the best ensemble beats them by more than the standard error of
%   its per-fold gain. The grid (M is the number of features that vary):
%     D          0.5, 0.71, 1, 1.41 times sqrt(M)
%     Vigilance  0, 0.5
%     Ratio      0.5, 0.75, 1
%     Alpha      0.01, 0.1
%     CT         0, 1
%     Voters     5, 15 (for the best node setting)
%   The other parameters keep the defaults of qir_fit. The members train
%   one after the other, so this takes longer than 'qir search'.
%
%   Options: 'Folds' (default 5), 'Seed' (default 1: folds and orders),
%   'Scale' (default true), 'Display' (default true: print the ten best
%   screened settings, the ensembles and the choice).
%
%   ranked is the screened settings, a struct array, best first, with fields
%   D, Ratio, Vigilance, Alpha, CT, Voters, accuracy, unknown and nodes.
%   best is the chosen setting as a cell array of name-value pairs for
%   qir_fit (the defaults unless clearly beaten; then without 'D', which
%   qir_fit takes from the data it is given), and model (when asked
%   for) is qir_fit of it on all of X and y. outcome has the ensembles
%   (finalists, best first, with gain and gain_error in points), the
%   defaults' result, kept_defaults and seconds.
%
%   Example:
%     X = rand(120, 2);
%     y = 1 + (X(:, 1) > X(:, 2));
%     [ranked, best] = qir_search(X, y, 'Folds', 3, 'Display', false);
%     top = ranked(1)
%
%   See also QIR_CV, QIR_FIT.

if nargin < 2
  error('qir_search:arguments', 'qir_search needs patterns X and labels y.');
end
o = qir_options(struct('Folds', 5, 'Seed', 1, 'Scale', true, 'Display', true), varargin, ...
                'qir_search');
started = tic;
varying = qir_library('varying', X);
[grid, voters, finalists] = qir_library('grid', varying);
quiet = qir_data_warnings(X, qir_labels(y, 'qir_search'));  % once, not for each setting
cv = {'Folds', o.Folds, 'Seed', o.Seed, 'Display', false, 'Scale', o.Scale};
ranked = struct('D', {}, 'Ratio', {}, 'Vigilance', {}, 'Alpha', {}, 'CT', {}, 'Voters', {}, ...
                'accuracy', {}, 'unknown', {}, 'nodes', {}, 'fold_accuracy', {}, ...
                'gain', {}, 'gain_error', {});
for k = 1:numel(grid)
  ranked(end + 1) = tried(X, y, cv, grid(k), 1);
end
ranked = ranked(qir_library('rank', [ranked.accuracy], [ranked.unknown], [ranked.nodes]));

defaults = qir_library('defaults', varying);
% Each training fold's own default D, as qir_cv takes it.
outcome.defaults = tried(X, y, cv, setfield(defaults, 'D', []), defaults.Voters);
outcome.defaults.D = defaults.D;
outcome.finalists = ranked([]);
for k = 1:min(finalists, numel(ranked))
  for v = voters
    outcome.finalists(end + 1) = tried(X, y, cv, ranked(k), v);
  end
end
for k = 1:numel(outcome.finalists)
  [outcome.finalists(k).gain, outcome.finalists(k).gain_error] = ...
      qir_library('gain', outcome.finalists(k).fold_accuracy, outcome.defaults.fold_accuracy);
end
f = outcome.finalists;
outcome.finalists = outcome.finalists(qir_library('rank', [f.accuracy], [f.unknown], [f.nodes]));
chosen = outcome.defaults;
outcome.kept_defaults = true;
if ~isempty(outcome.finalists)
  [~, ~, better] = qir_library('gain', outcome.finalists(1).fold_accuracy, ...
                               outcome.defaults.fold_accuracy);
  if better
    chosen = outcome.finalists(1);
    outcome.kept_defaults = false;
  end
end
best = {'D', chosen.D, 'Ratio', chosen.Ratio, 'Vigilance', chosen.Vigilance, ...
        'Alpha', chosen.Alpha, 'CT', chosen.CT, 'Voters', chosen.Voters, 'Scale', o.Scale};
if outcome.kept_defaults
  best = best(3:end);  % the default D: each data set's own, as qir_fit takes it
end
outcome.seconds = toc(started);
if o.Display
  show(ranked(1:min(10, numel(ranked))), false);
  show(outcome.finalists, true);
  fprintf('def. %s\n', setting_text(outcome.defaults));
  if outcome.kept_defaults
    fprintf('Defaults kept: no setting beats them by more than its standard error\n');
  else
    fprintf('Chosen: the best ensemble, which beats the defaults by more than its standard error\n');
  end
  fprintf('Search took %.1f s\n', outcome.seconds);
end
ranked = rmfield(ranked, {'fold_accuracy', 'gain', 'gain_error'});
if nargout > 2
  model = qir_fit(X, y, best{:}, 'Seed', o.Seed, 'Oflag', 0);
end
end

function r = tried(X, y, cv, g, voters)
% One setting cross-validated, members in shuffled orders.
D = {};
if ~isempty(g.D)
  D = {'D', g.D};
end
result = qir_cv(X, y, cv{:}, D{:}, 'Vigilance', g.Vigilance, 'Ratio', g.Ratio, ...
                'Alpha', g.Alpha, 'CT', g.CT, 'Voters', voters, 'Shuffle', true);
r = struct('D', g.D, 'Ratio', g.Ratio, 'Vigilance', g.Vigilance, 'Alpha', g.Alpha, 'CT', g.CT, ...
           'Voters', voters, 'accuracy', result.accuracy, 'unknown', result.unknown, ...
           'nodes', result.nodes, 'fold_accuracy', result.fold_accuracy, 'gain', 0, ...
           'gain_error', 0);
end

function show(settings, with_gain)
if with_gain
  fprintf('Ensembles, and their gain over the defaults (points ± standard error):\n');
else
  fprintf('Screening (one shuffled member each):\n');
end
fprintf('Rank  Accuracy   Unknown    Nodes          D  Ratio  Vigilance  Alpha  CT Voters\n');
for k = 1:numel(settings)
  text = setting_text(settings(k));
  if with_gain
    text = sprintf('%s %+7.2f ± %.2f', text, settings(k).gain, settings(k).gain_error);
  end
  fprintf('%4d %s\n', k, text);
end
end

function text = setting_text(r)
text = sprintf('%8.2f%% %8.2f%% %8.1f %10.4g %6g %10g %6g %3g %6d', r.accuracy, r.unknown, ...
               r.nodes, r.D, r.Ratio, r.Vigilance, r.Alpha, r.CT, r.Voters);
end
