function [labels, info] = qir_predict(model, X, varargin)
%QIR_PREDICT  Classify patterns with a model from qir_fit or qir_load_model.
%   labels = qir_predict(model, X)
%   [labels, info] = qir_predict(model, X, 'Name', value, ...)
%
%   Scales X (P x M) as the model's training data were scaled, runs
%   qir_perf with the model's parameters once per member (the library's
%   vote, calling this session's qir_perf) and returns the
%   members' vote, one label per pattern, of the same kind as the training
%   labels (numbers of the same class, text, or categorical). A member that
%   leaves a pattern unclassified casts no vote; a tie goes to the lowest of
%   the tied class labels (as 'qir classify' and the Python package vote). A
%   pattern that no member classifies gets the unknown label: numeric models give it 'UnknownLabel' (default a label no
%   node carries, one below the smallest where there is room), text models
%   give '' and categorical models <undefined>. X may be sparse; values
%   that are not finite are refused.
%
%   Options:
%     'UnknownLabel'  label of unclassified patterns (numeric labels only)
%     'Vigilance'     overrides the model's vigilance; lower values leave
%                     fewer patterns unclassified
%     'D', 'Ratio', 'Alpha', 'CT'  override the model's values
%     'Oflag'         console output of qir_perf, 0 to 3 (default 0): member
%                     1's summary, from 2 on every member's
%
%   info.unknown is a P x 1 logical vector, true for unclassified patterns
%   (trust it rather than the label when the label type cannot hold the
%   unknown value, such as uint8 with a class 0); info.codes holds the
%   modules' integer labels (the voted ones). info.shares is P x C, each
%   class's share of the votes cast for a pattern (rows of unclassified
%   patterns are 0), for the classes info.classes (1 x C, the modules'
%   labels, ascending; the names are model.class_names in that order);
%   info.votes counts the members that voted. The modules do not report
%   which node won.
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
% Options left empty take the model's values (UnknownLabel: a label no node
% carries).
defaults = struct('UnknownLabel', [], 'Vigilance', [], 'D', [], 'Ratio', [], 'Alpha', [], ...
                  'CT', [], 'Oflag', 0);
o = qir_options(defaults, varargin, 'qir_predict');
% Labels alone: each pattern's vote ends once the members left cannot change it.
o.LabelsOnly = double(nargout < 2);
try
  [codes, info.shares, info.classes, info.votes, unknown_label] = ...
      qir_gateway('predict', model, full(double(X)), o);
catch failure
  qir_refusal(failure, 'qir_predict');
end
info.unknown = info.votes == 0 | codes == fix(unknown_label);
info.codes = codes;
labels = label_values(model, codes, info.unknown, unknown_label);
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
