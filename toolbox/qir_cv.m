function result = qir_cv(X, y, varargin)
%QIR_CV  Cross-validate a QIR training setting (stratified k-fold).
%   result = qir_cv(X, y)
%   result = qir_cv(X, y, 'Name', value, ...)
%
%   Splits the patterns X (N x M) with labels y into stratified folds (each
%   class spread evenly over the folds, the split fixed by the seed: the
%   same folds as 'qir cv' with the same seed), trains as qir_fit on all
%   folds but one and classifies that one as qir_predict, for each fold
%   (the library's cross-validation, calling this session's modules). A
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
% Options left empty take qir_fit's defaults, each training fold its own D
% and presentation limit as qir_fit would take them.
defaults = struct('Folds', 5, 'Seed', 1, 'Display', true, 'D', [], 'Ratio', [], ...
                  'Vigilance', [], 'Alpha', [], 'LearningRate', [], 'MaxPresentations', [], ...
                  'Trim', [], 'CT', [], 'Scale', [], 'Voters', [], 'Shuffle', [], 'MaxFeatures', [], 'Bootstrap', [], 'OobWeights', [], ...
                  'MaxSamples', [], 'Screen', [], 'Oflag', [], 'FeatureNames', {{}});
o = qir_options(defaults, varargin, 'qir_cv');
if ~(isnumeric(X) || islogical(X)) || ~ismatrix(X) || isempty(X)
  error('qir_cv:patterns', 'qir_cv: X must be a non-empty numeric matrix, one pattern per row.');
end
N = size(X, 1);
if numel(y) ~= N
  error('qir_cv:labels', 'qir_cv: %d labels for %d patterns.', numel(y), N);
end
if ~(isnumeric(o.Folds) && isscalar(o.Folds) && o.Folds >= 2 && o.Folds <= N && o.Folds == fix(o.Folds))
  error('qir_cv:folds', 'qir_cv: Folds must be a whole number from 2 to the number of patterns (%d).', N);
end
% Train on the integer codes of the labels, whatever their kind.
codes = qir_labels(y, 'qir_cv');
quiet = qir_data_warnings(X, codes);  % once, not again for each fold
try
  result = qir_gateway('cv', full(double(X)), codes, o);
catch failure
  qir_refusal(failure, 'qir_cv');
end
end
