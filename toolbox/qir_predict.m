function [labels, info] = qir_predict(model, X, varargin)
%QIR_PREDICT  Classify patterns with a model from qir_fit or qir_load_model.
%   labels = qir_predict(model, X)
%   [labels, info] = qir_predict(model, X, 'Name', value, ...)
%
%   Scales X (P x M) as the model's training data were scaled, runs
%   qir_perf with the model's parameters and returns one label per pattern,
%   of the same kind as the training labels (numbers of the same class,
%   text, or categorical). A pattern that no node classifies gets the
%   unknown label: numeric models give it 'UnknownLabel' (default a label no
%   node carries, one below the smallest where there is room), text models
%   give '' and categorical models <undefined>. X may be sparse; values
%   that are not finite are refused.
%
%   Options:
%     'UnknownLabel'  label of unclassified patterns (numeric labels only)
%     'Vigilance'     overrides the model's vigilance; lower values leave
%                     fewer patterns unclassified
%     'D', 'Ratio', 'Alpha', 'CT'  override the model's values
%     'Oflag'         console output of qir_perf, 0 to 3 (default 0)
%
%   info.unknown is a P x 1 logical vector, true for unclassified patterns
%   (trust it rather than the label when the label type cannot hold the
%   unknown value, such as uint8 with a class 0); info.codes holds the
%   modules' integer labels. The modules do not report which node won.
%
%   Example:
%     X = [0 0; 0 1; 1 0; 1 1; 0.1 0.1; 0.9 0.9];
%     model = qir_fit(X, {'low'; 'low'; 'high'; 'high'; 'low'; 'high'}, 'Oflag', 0);
%     [labels, info] = qir_predict(model, [0.05 0.2; 0.95 0.7])
%
%   See also QIR_FIT, QIR_LOAD_MODEL, QIR_PERF.

if nargin < 2
  error('qir_predict:arguments', 'qir_predict needs a model and patterns X.');
end
if ~isstruct(model) || ~isfield(model, 'Templates')
  error('qir_predict:model', 'qir_predict: the first argument must be a model from qir_fit or qir_load_model.');
end
if size(X, 2) ~= model.features
  error('qir_predict:features', 'qir_predict: the model has %d features, the data have %d.', ...
        model.features, size(X, 2));
end
defaults = struct('UnknownLabel', qir_library('unknown_label', model.NLabels), 'Vigilance', model.vigilance, 'D', model.D, ...
                  'Ratio', model.ratio, 'Alpha', model.alpha, 'CT', model.ct_option, 'Oflag', 0);
o = qir_options(defaults, varargin, 'qir_predict');
X = full(double(X));
try
  if ~isempty(model.feature_min)
    % Refuses infinite patterns, as qir_perf does for a model without scaling.
    X = qir_library('scale', X, model.feature_min, model.feature_max);
  end
  codes = qir_perf(model.Templates, model.NLabels, o.D, o.Ratio, o.Vigilance, o.Alpha, o.CT, X, ...
                   o.UnknownLabel, o.Oflag);
catch failure
  qir_refusal(failure, 'qir_predict');
end
info.unknown = codes == fix(o.UnknownLabel);
info.codes = codes;
labels = label_values(model, codes, info.unknown, o.UnknownLabel);
end

function labels = label_values(model, codes, unknown, unknown_label)
if isempty(model.class_names)
  labels = codes;
  labels(unknown) = unknown_label;
  labels = cast(labels, model.label_type);
  return
end
text = repmat({''}, numel(codes), 1);
[named, where] = ismember(codes, model.class_labels);
text(named & ~unknown) = model.class_names(where(named & ~unknown));
switch model.label_type
  case 'categorical'
    labels = categorical(text, model.class_names);
  case 'string'
    labels = string(text);
  otherwise
    labels = text;
end
end
