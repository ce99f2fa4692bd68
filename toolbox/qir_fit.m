function model = qir_fit(X, y, varargin)
%QIR_FIT  Train a QIR model with scaled features and tested defaults.
%   model = qir_fit(X, y)
%   model = qir_fit(X, y, 'Name', value, ...)
%
%   Trains qir_train on the patterns X (N x M, one per row) with labels y
%   (N values: numbers, a cell array of text, a string array or a
%   categorical array); X may be sparse and returns a model struct for qir_predict,
%   qir_save_model and qir_plot_nodes. The features are scaled to [0, 1]
%   by their range in X first, and the model keeps that range, so
%   qir_predict scales new patterns in the same way (clipping values
%   outside the range). Text and categorical labels are mapped to 1..K in
%   sorted order of the names, and qir_predict maps them back.
%
%   Options (the defaults are those of the qir command, chosen by
%   cross-validation on the bundled data sets; see qir_search):
%     'D'                 size bound D >= 0 (default sqrt(M))
%     'Ratio'             minor to major half-axis ratio in (0, 1] (default 0.75)
%     'Vigilance'         vigilance in [0, 1] (default 0)
%     'Alpha'             choice parameter alpha >= 0 (default 0.1)
%     'LearningRate'      learning rate in (0, 1] (default 1)
%     'MaxPresentations'  most list presentations (default 100)
%     'Trim'              1 drops nodes no pattern chose (default 0)
%     'CT'                1 applies the choice-value test (default 0)
%     'Scale'             true scales the features to [0, 1] (default true)
%     'Oflag'             console output of qir_train, 0 to 4 (default 1)
%
%   model fields: Templates, NLabels (as qir_train returns them),
%   num_list_presentations, features (M), D, ratio, vigilance, alpha,
%   learning_rate, max_list_presentations, trim_option, ct_option,
%   feature_min and feature_max (1 x M, empty without scaling),
%   class_names and class_labels (the names behind the labels 1..K, empty
%   for numeric labels) and label_type (the class of y).
%
%   Example (two classes in centimetres, far from [0, 1]):
%     X = [10 + 20 * rand(200, 1), 50 * rand(200, 1)];
%     y = 1 + (X(:, 2) > 25);
%     model = qir_fit(X, y, 'Oflag', 0);
%     [labels, info] = qir_predict(model, X);
%     accuracy = mean(labels == y)
%
%   See also QIR_PREDICT, QIR_CV, QIR_SEARCH, QIR_SAVE_MODEL, QIR_TRAIN.

if nargin < 2
  error('qir_fit:arguments', 'qir_fit needs patterns X and labels y.');
end
if ~(isnumeric(X) || islogical(X)) || ~ismatrix(X) || isempty(X)
  error('qir_fit:patterns', 'qir_fit: X must be a non-empty numeric matrix, one pattern per row.');
end
X = full(double(X));
if numel(y) ~= size(X, 1)
  error('qir_fit:labels', 'qir_fit: %d labels for %d patterns.', numel(y), size(X, 1));
end
M = size(X, 2);
o = qir_options(qir_library('defaults', M), varargin, 'qir_fit');
[labels, names, type] = qir_labels(y, 'qir_fit');

model = struct('Templates', [], 'NLabels', [], 'num_list_presentations', 0, 'features', M, ...
               'D', o.D, 'ratio', o.Ratio, 'vigilance', o.Vigilance, 'alpha', o.Alpha, ...
               'learning_rate', o.LearningRate, 'max_list_presentations', o.MaxPresentations, ...
               'trim_option', o.Trim, 'ct_option', o.CT, 'feature_min', [], 'feature_max', [], ...
               'class_names', {names}, 'class_labels', (1:numel(names))', 'label_type', type);
if o.Scale
  [model.feature_min, model.feature_max] = qir_library('range', X);
  X = qir_library('scale', X, model.feature_min, model.feature_max);
end
[model.Templates, model.NLabels, model.num_list_presentations] = qir_train(X, labels, o.D, ...
    o.Ratio, o.Vigilance, o.Alpha, o.LearningRate, o.MaxPresentations, o.Trim, o.CT, o.Oflag);
if o.Oflag > 0
  hint = qir_library('hint', 'training', size(model.Templates, 1), size(X, 1));
  if ~isempty(hint)
    fprintf('%s\n', hint);
  end
end
end
