function model = qir_fit(X, y, varargin)
%QIR_FIT  Train a QIR model with scaled features and tested defaults.
%   model = qir_fit(X, y)
%   model = qir_fit(X, y, 'Name', value, ...)
%   model = qir_fit(X, y, 'Model', model, ...)
%
%   Trains qir_train on the patterns X (N x M, one per row) with labels y
%   (N values: numbers, a cell array of text, a string array or a
%   categorical array); X may be sparse and returns a model struct for qir_predict,
%   qir_save_model and qir_plot_nodes. By default the model is an ensemble:
%   'Voters' members, each one qir_train call on the same data in its own
%   shuffled order drawn from 'Seed', trained one after the other (the
%   library's ensemble, calling this session's qir_train); qir_predict
%   takes their majority vote. The same seed gives the same members as
%   'qir train' and the Python package. 'Voters', 1, 'Shuffle', false is one
%   qir_train call on the data as given. The features are scaled to [0, 1]
%   by their range in X first, or by their rank where some feature has
%   outliers ('Scale'), and the model keeps the scaling used, so
%   qir_predict scales new patterns in the same way (clipping values
%   outside the range). Text and categorical labels are mapped to 1..K in
%   sorted order of the names, and qir_predict maps them back.
%
%   Options (the defaults are those of the qir command, chosen by
%   cross-validation on the bundled data sets; see qir_search):
%     'D'                 size bound D >= 0 (default sqrt(M), M features that vary)
%     'Ratio'             minor to major half-axis ratio in (0, 1] (default 0.75)
%     'Vigilance'         vigilance in [0, 1] (default 0)
%     'Alpha'             choice parameter alpha >= 0 (default 0.03)
%     'LearningRate'      learning rate in (0, 1] (default 1)
%     'MaxPresentations'  most list presentations (default 672000 / patterns / voters, rounded up, 2 to 100)
%     'Trim'              1 drops nodes no pattern chose (default 0)
%     'CT'                1 applies the choice-value test (default 0)
%     'Scale'             true or 'minmax', 'standard', 'rank', 'auto', false or 'none' (default auto)
%                         (minmax: each feature to [0, 1] by its range; standard: by its
%                         mean and deviation; rank: by its rank among the training
%                         values, which outliers cannot squash; auto: rank when some
%                         feature's range exceeds 10 times its interquartile range,
%                         else minmax)
%     'Voters'            members of the ensemble, 1 to 1000 (default 23)
%     'Shuffle'           true: each member in its own shuffled order (default true)
%     'MaxFeatures'       share of the features each member sees, in (0, 1] (default 1)
%     'Bootstrap'         true: each member trains on N patterns drawn with replacement (default false)
%     'OobWeights'        true: votes weighted by out-of-bag accuracy (default false)
%                         (with 'Bootstrap': each member's vote counts its accuracy on
%                         the patterns its draw left out)
%     'MaxSamples'        rows each member draws from larger data, a whole number >= 0 (default 100000)
%                         (0: every row; smaller data are used whole; with
%                         'Model', the draw from the further batch)
%     'Screen'            true: members see only the features whose values differ between the classes (default true)
%                         (a chi-square test per feature on the training data, where
%                         fewer than half pass and at least 2; else every feature)
%                         (more than one voter needs it)
%     'Seed'              seed of the members' orders, a whole number (default 1)
%     'Oflag'             console output of qir_train, 0 to 4 (default 1)
%                         (1: member 1's summary; 2 and up: every member's text)
%     'FeatureNames'      a cellstr of M names of the columns of X (default
%                         none; with 'Model', the model's), kept in the
%                         model and its file, and shown by qir_plot_nodes
%                         and 'qir plot'
%     'Model'             a model from qir_fit or qir_load_model to go on
%                         learning from (see below)
%
%   With 'Model', qir_fit learns X and y as a further batch on top of the
%   model's nodes, without the earlier data: qir_train starts from the
%   model's Templates and NLabels and keeps them (trimming removes only
%   nodes made in this call), so classes missing from y are not forgotten
%   and a class that y brings for the first time is learned. The model's
%   scaling stays (values beyond its range are clipped, as qir_predict
%   clips them; 'Scale' cannot be given), a known class name keeps its
%   label and a new one gets the next, and the model's training parameters
%   are used unless given. Each member of an ensemble goes on from its own
%   nodes, in its own order for the model's next batch, as 'qir train
%   --init' does; the model's voters and seed stay ('Voters', 'Shuffle' and
%   'Seed' cannot be given).
%
%   On a terminal, training that takes more than a second shows a progress
%   line after each member (member k of K, its list presentations and nodes,
%   the time so far); files and pipes never get it. A member that stops at
%   'MaxPresentations' without converging gives a hint, unless identical
%   rows of X have different labels (no limit lets those converge).
%
%   Data that cannot give a useful model (a column of X with one value
%   throughout, a single class, more columns than rows, identical rows with
%   different labels) draw one warning line each ('qir:constant_features',
%   'qir:single_class', 'qir:more_features_than_patterns',
%   'qir:contradictory_patterns'); training goes on. Refused options
%   and values are errors 'qir_fit:refused' that name X, y or the option.
%
%   model fields: Templates, NLabels (as qir_train returns them),
%   num_list_presentations, features (M), D, ratio, vigilance, alpha,
%   learning_rate, max_list_presentations, trim_option, ct_option,
%   feature_min and feature_max (1 x M, empty without scaling),
%   feature_names (M x 1 cellstr, empty without names), class_names and
%   class_labels (the names behind the labels 1..K, empty for numeric
%   labels), label_type (the class of y), voters, seed, shuffle, batches
%   (training calls the members have had), and further_members: members
%   2..K (Templates, NLabels, num_list_presentations each); member 1 is
%   Templates and NLabels.
%
%   Example (two classes in centimetres, far from [0, 1]):
%     X = [10 + 20 * rand(200, 1), 50 * rand(200, 1)];
%     y = 1 + (X(:, 2) > 25);
%     model = qir_fit(X, y, 'Oflag', 0);
%     [labels, info] = qir_predict(model, X);
%     accuracy = mean(labels == y)
%
%   A stream in batches:
%     model = qir_fit(X(1:100, :), y(1:100), 'Oflag', 0);
%     model = qir_fit(X(101:200, :), y(101:200), 'Model', model, 'Oflag', 0);
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
[earlier, varargin] = model_option(varargin, M);
if isempty(earlier)
  % Options left empty take the library's defaults (D and MaxPresentations
  % depend on the data and the voters).
  defaults = struct('D', [], 'Ratio', [], 'Vigilance', [], 'Alpha', [], 'LearningRate', [], ...
                    'MaxPresentations', [], 'Trim', [], 'CT', [], 'Scale', [], 'Oflag', [], ...
                    'Voters', [], 'Shuffle', [], 'MaxFeatures', [], 'Bootstrap', [], 'OobWeights', [], ...
                    'MaxSamples', [], 'Screen', [], 'Seed', [], 'FeatureNames', {{}});
  o = qir_options(defaults, varargin, 'qir_fit');
  [labels, o.ClassNames, type] = qir_labels(y, 'qir_fit');
  % Only here: a further batch may well hold one class, the model the others.
  qir_data_warnings(X, labels);
  o.FeatureNames = feature_name_list(o.FeatureNames, M);
  model = whole('fit', X, labels, o);
else
  o = qir_options(struct('D', [], 'Ratio', [], 'Vigilance', [], 'Alpha', [], ...
                         'LearningRate', [], 'MaxPresentations', [], 'Trim', [], 'CT', [], ...
                         'MaxSamples', [], 'Oflag', [], 'FeatureNames', {{}}), varargin, 'qir_fit');
  o.FeatureNames = feature_name_list(o.FeatureNames, M);
  [labels, type] = continued_labels(y, earlier);
  check_members(earlier);
  model = whole('continue', earlier, X, labels, o);
end
model.label_type = type;
end

% One whole operation of the library; its refusals in qir_fit's words.
function model = whole(varargin)
try
  model = qir_gateway(varargin{:});
catch failure
  qir_refusal(failure, 'qir_fit');
end
end

% The 'Model' option taken out of the name-value pairs, checked.
function [earlier, rest] = model_option(args, M)
earlier = [];
rest = args;
for k = numel(args) - 1:-2:1
  if ischar(args{k}) && strcmpi(args{k}, 'Model')
    earlier = args{k + 1};
    rest(k:k + 1) = [];
  end
end
if isempty(earlier)
  return
end
if ~isstruct(earlier) || ~isfield(earlier, 'Templates') || ~isfield(earlier, 'feature_min')
  error('qir_fit:model', 'qir_fit: ''Model'' must be a model from qir_fit or qir_load_model.');
end
if earlier.features ~= M
  error('qir_fit:features', 'qir_fit: the model has %d features, the data have %d.', ...
        earlier.features, M);
end
for k = 1:2:numel(rest)
  if ischar(rest{k}) && strcmpi(rest{k}, 'Scale')
    error('qir_fit:model', ['qir_fit: ''Scale'' cannot change with ''Model'': the model''s ' ...
                            'scaling stays.']);
  end
  if ischar(rest{k}) && any(strcmpi(rest{k}, {'Voters', 'Shuffle', 'MaxFeatures', 'Bootstrap', 'OobWeights', 'Screen', 'Seed'}))
    error('qir_fit:model', ['qir_fit: ''%s'' cannot change with ''Model'': the model''s ' ...
                            'members, their voters and seed stay.'], rest{k});
  end
end
end

% A struct made before the toolbox voted is one member; otherwise every
% voter has its member.
function check_members(model)
if isfield(model, 'voters') && isfield(model, 'further_members') && ...
   numel(model.further_members) + 1 ~= model.voters
  error('qir_fit:model', 'qir_fit: the model has %d members but %d voters.', ...
        numel(model.further_members) + 1, model.voters);
end
end

% The labels of y for the model's classes: numbers stay numbers, names go
% to the library as names (a known name keeps its label, a new name gets
% the next).
function [labels, type] = continued_labels(y, model)
named = iscellstr(y) || isa(y, 'string') || isa(y, 'categorical');
if isfield(model, 'label_type')
  type = model.label_type;
elseif isempty(model.class_names)
  type = 'double';
else
  type = 'cellstr';
end
if isempty(model.class_names)
  if named
    error('qir_fit:labels', 'qir_fit: the model''s classes are numbers, the labels y are names.');
  end
  labels = qir_labels(y, 'qir_fit');
  return
end
if ~named
  error('qir_fit:labels', 'qir_fit: the model''s classes are names, the labels y are numbers.');
end
if isa(y, 'categorical') && any(isundefined(y(:)))
  error('qir_fit:labels', 'qir_fit: undefined categorical labels.');
end
labels = cellstr(y(:));
end

function names = feature_name_list(names, M)
if isempty(names)
  names = cell(0, 1);
  return
end
if isstring(names)
  names = cellstr(names);
end
if ~iscellstr(names) || numel(names) ~= M
  error('qir_fit:featureNames', 'qir_fit: FeatureNames must be a cellstr of %d names, one per column of X.', M);
end
names = names(:);
end
