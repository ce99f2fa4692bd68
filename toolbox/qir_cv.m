function result = qir_cv(X, y, varargin)
%QIR_CV  Cross-validate a QIR training setting (stratified k-fold).
%   result = qir_cv(X, y)
%   result = qir_cv(X, y, 'Name', value, ...)
%
%   Splits the patterns X (N x M) with labels y into stratified folds (each
%   class spread evenly over the folds, the split fixed by the seed: the
%   same folds as 'qir cv' with the same seed), trains qir_fit on all folds
%   but one and classifies that one with qir_predict, for each fold. A
%   pattern left unclassified counts as wrong. Prints one line per fold and
%   the means unless 'Display' is false.
%
%   Options: 'Folds' (default 5), 'Seed' (default 1: the seed of the folds
%   and of the members' orders, as in 'qir cv'), 'Display' (default true),
%   and every option of qir_fit ('D', 'Ratio', 'Vigilance', 'Alpha',
%   'LearningRate', 'MaxPresentations', 'Trim', 'CT', 'Scale', 'Voters',
%   'Shuffle'); the modules run silently.
%
%   result fields: accuracy and unknown (mean percentages over the folds),
%   nodes (mean, of all members), seconds (in all), and per fold: fold_accuracy,
%   fold_unknown, fold_nodes, fold_seconds, and fold (the fold of each
%   pattern).
%
%   Example:
%     X = rand(300, 2);
%     y = 1 + (sum((X - 0.5) .^ 2, 2) < 1 / (2 * pi));
%     result = qir_cv(X, y, 'Folds', 3, 'Display', false);
%     mean_accuracy = result.accuracy
%
%   See also QIR_SEARCH, QIR_FIT, QIR_PREDICT.

if nargin < 2
  error('qir_cv:arguments', 'qir_cv needs patterns X and labels y.');
end
[o, fit_options] = qir_options(struct('Folds', 5, 'Seed', 1, 'Display', true), varargin, 'qir_cv');
N = size(X, 1);
if ~(o.Folds >= 2 && o.Folds <= N && o.Folds == fix(o.Folds))
  error('qir_cv:folds', 'qir_cv: Folds must be a whole number from 2 to the number of patterns (%d).', N);
end
% Train on the integer codes of the labels, whatever their kind.
codes = qir_labels(y, 'qir_cv');
quiet = qir_data_warnings(X, codes);  % once, not again for each fold
fold = qir_library('folds', codes, o.Folds, o.Seed);
result = struct('accuracy', 0, 'unknown', 0, 'nodes', 0, 'seconds', 0, ...
                'fold_accuracy', zeros(o.Folds, 1), 'fold_unknown', zeros(o.Folds, 1), ...
                'fold_nodes', zeros(o.Folds, 1), 'fold_seconds', zeros(o.Folds, 1), 'fold', fold);
unknown_patterns = 0;
for k = 1:o.Folds
  test = fold == k;
  started = tic;
  model = qir_fit(X(~test, :), codes(~test), fit_options{:}, 'Seed', o.Seed, 'Oflag', 0);
  [~, info] = qir_predict(model, X(test, :));
  result.fold_seconds(k) = toc(started);
  right = ~info.unknown & info.codes == codes(test);
  result.fold_accuracy(k) = 100 * sum(right) / numel(right);   % as 'qir cv' rounds it
  result.fold_unknown(k) = 100 * sum(info.unknown) / numel(right);
  unknown_patterns = unknown_patterns + sum(info.unknown);
  result.fold_nodes(k) = size(model.Templates, 1) + sum(arrayfun(@(m) size(m.Templates, 1), ...
                                                                  model.further_members));
end
result.accuracy = mean(result.fold_accuracy);
result.unknown = mean(result.fold_unknown);
result.nodes = mean(result.fold_nodes);
result.seconds = sum(result.fold_seconds);
if o.Display
  fprintf('Fold  Accuracy   Unknown    Nodes  Seconds\n');
  for k = 1:o.Folds
    fprintf('%-4d %8.2f%% %8.2f%% %8d %8.3f\n', k, result.fold_accuracy(k), ...
            result.fold_unknown(k), result.fold_nodes(k), result.fold_seconds(k));
  end
  fprintf('Mean %8.2f%% %8.2f%% %8.1f %8.3f\n', result.accuracy, result.unknown, result.nodes, ...
          result.seconds / o.Folds);
  hint = qir_library('hint', 'classification', unknown_patterns, N);
  if ~isempty(hint)
    fprintf('%s\n', hint);
  end
end
end
