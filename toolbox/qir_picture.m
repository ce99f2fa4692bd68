function svg = qir_picture(model, what, X, y, varargin)
%QIR_PICTURE The qir command's pictures of a model, as SVG text.
%   SVG = QIR_PICTURE(model, 'confusion', X, y) draws the confusion matrix
%   of the model's vote on X against the true labels y, as a heat map.
%   SVG = QIR_PICTURE(model, 'votes', X, y) draws the share of the members'
%   votes each class gets, by true class (y may be [] to leave them out).
%   SVG = QIR_PICTURE(model, 'progress', X, y) draws accuracy and nodes after
%   training on X, y with the model's settings (parameters, scaling, voters,
%   seed) stopped after 1, 2, ... list presentations; 'Test', {X_test,
%   y_test} measures the accuracy there instead of on X, y.
%   SVG = QIR_PICTURE(model, 'nodes', X, y) is the picture QIR_PLOT_NODES
%   draws; 'Features', [i j] chooses two features of a wider model.
%
%   'Title', text names the picture; 'File', name also writes it (the old
%   file stays whole until the new one is). Each is the picture that
%   'qir plot MODEL DATA --show WHAT' draws from the same model and data,
%   byte for byte, with the classes in the same order and colours.
%
%   Example:
%     P = rand(300, 2);
%     L = 1 + (sum((P - 0.5).^2, 2) >= 1/(2*pi));
%     model = qir_fit(P, L, 'Oflag', 0);
%     svg = qir_picture(model, 'confusion', P, L);
%
%   See also QIR_PLOT_NODES, QIR_FIT, QIR_PREDICT.

if nargin < 3
  error('qir_picture:arguments', 'qir_picture needs a model, the picture''s name and X.');
end
if ~isstruct(model) || ~isfield(model, 'Templates')
  error('qir_picture:model', 'qir_picture: the first argument must be a model from qir_fit or qir_load_model.');
end
if nargin < 4
  y = [];
end
titles = struct('nodes', 'QIR model', 'confusion', 'QIR model: confusion matrix', ...
                'votes', 'QIR model: vote shares', ...
                'progress', 'QIR model: accuracy and nodes while training');
if ~ischar(what) || ~isfield(titles, what)
  error('qir_picture:arguments', 'qir_picture draws nodes, confusion, votes or progress.');
end
o = qir_options(struct('Title', titles.(what), 'File', '', 'Test', {{}}, 'Features', []), ...
                varargin, 'qir_picture');
[test_X, test_y] = deal(zeros(0, model.features), []);
if ~isempty(o.Test)
  if ~iscell(o.Test) || numel(o.Test) ~= 2
    error('qir_picture:arguments', 'qir_picture: ''Test'' takes {X_test, y_test}.');
  end
  [test_X, test_y] = o.Test{:};
end
try
  svg = qir_gateway('picture', model, what, full(double(X)), ...
                    qir_class_codes(model, y, 'qir_picture'), full(double(test_X)), ...
                    qir_class_codes(model, test_y, 'qir_picture'), o.Title, double(o.Features));
  if ~isempty(o.File)
    qir_gateway('write', svg, o.File);
  end
catch failure
  qir_refusal(failure, 'qir_picture');
end
end
