function [ranked, best, model] = qir_search(X, y, varargin)
%QIR_SEARCH  Find a good QIR training setting by cross-validation over a grid.
%   ranked = qir_search(X, y)
%   [ranked, best, model] = qir_search(X, y, 'Name', value, ...)
%
%   Cross-validates (qir_cv) every combination of the grid below on the
%   patterns X with labels y and ranks the settings by mean accuracy, then
%   fewer unclassified patterns, then fewer nodes. The grid is the node
%   settings that 'qir search' screens (M is the number of features):
%     D          0.5, 0.71, 1, 1.41 times sqrt(M)
%     Vigilance  0, 0.5
%     Ratio      0.5, 0.75, 1
%     Alpha      0.01, 0.1
%     CT         0, 1
%   The other parameters keep the defaults of qir_fit. Each setting is one
%   model trained in the data's order ('qir search' also tries ensembles
%   and keeps the defaults unless clearly beaten).
%
%   Options: 'Folds' (default 5), 'Seed' (default 1), 'Scale' (default
%   true), 'Display' (default true: print the ten best settings).
%
%   ranked is a struct array, best first, with fields D, Ratio, Vigilance,
%   Alpha, CT, accuracy, unknown and nodes. best is the best setting as a
%   cell array of name-value pairs for qir_fit, and model (when asked for)
%   is qir_fit of the best setting on all of X and y.
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
grid = qir_library('grid', size(X, 2));
quiet = qir_data_warnings(X, qir_labels(y, 'qir_search'));  % once, not for each setting
ranked = struct('D', {}, 'Ratio', {}, 'Vigilance', {}, 'Alpha', {}, 'CT', {}, ...
                'accuracy', {}, 'unknown', {}, 'nodes', {});
for k = 1:numel(grid)
  g = grid(k);
  r = qir_cv(X, y, 'Folds', o.Folds, 'Seed', o.Seed, 'Display', false, 'Scale', o.Scale, ...
             'D', g.D, 'Vigilance', g.Vigilance, 'Ratio', g.Ratio, 'Alpha', g.Alpha, 'CT', g.CT, ...
             'LearningRate', g.LearningRate, 'MaxPresentations', g.MaxPresentations, 'Trim', g.Trim);
  ranked(end + 1) = struct('D', g.D, 'Ratio', g.Ratio, 'Vigilance', g.Vigilance, ...
                           'Alpha', g.Alpha, 'CT', g.CT, 'accuracy', r.accuracy, ...
                           'unknown', r.unknown, 'nodes', r.nodes);
end
% Ranked as 'qir search' ranks: accuracy, then fewer unknown, then fewer nodes.
ranked = ranked(qir_library('rank', [ranked.accuracy], [ranked.unknown], [ranked.nodes]));
b = ranked(1);
best = {'D', b.D, 'Ratio', b.Ratio, 'Vigilance', b.Vigilance, 'Alpha', b.Alpha, 'CT', b.CT, ...
        'Scale', o.Scale};
if o.Display
  fprintf('Rank  Accuracy   Unknown    Nodes          D  Ratio  Vigilance  Alpha  CT\n');
  for k = 1:min(10, numel(ranked))
    r = ranked(k);
    fprintf('%4d %8.2f%% %8.2f%% %8.1f %10.4g %6g %10g %6g %3g\n', k, r.accuracy, r.unknown, ...
            r.nodes, r.D, r.Ratio, r.Vigilance, r.Alpha, r.CT);
  end
end
if nargout > 2
  model = qir_fit(X, y, best{:}, 'Oflag', 0);
end
end
