function varargout = qir_plot_nodes(varargin)
%QIR_PLOT_NODES Draw the category regions of a QIR model.
%   QIR_PLOT_NODES(Templates, NLabels, ratio) draws every node of a model of
%   two features into the current axes, coloured by its label in NLabels:
%   a node with a direction as the ellipse with half-axis radius along the
%   direction and ratio*radius across it; a node without direction (all
%   zero) as a circle of its radius, or as a dot when the radius is 0.
%   Templates and NLabels are the first two results of QIR_TRAIN, one row
%   [center(1:M) direction(1:M) radius] per node; ratio is the one used for
%   training. The current hold state is kept, and the axes keep an equal
%   aspect ratio so that circles look round (unless the nodes reach more
%   than twice as far along one axis as along the other).
%
%   QIR_PLOT_NODES(Templates, NLabels, ratio, [i j]) draws the nodes of a
%   wider model as seen on features i and j: each hyper-ellipsoid's shadow
%   on the plane of those two features.
%
%   QIR_PLOT_NODES(model) and QIR_PLOT_NODES(model, [i j]) take a model
%   struct of QIR_FIT or QIR_LOAD_MODEL and draw it in the data's own units
%   (a model that scales its features is mapped back by its training
%   range), with the axes named by the model's feature names ('feature i'
%   without) and a legend of its class names ('label N' without).
%
%   H = QIR_PLOT_NODES(...) returns one graphics handle per node; without
%   an output nothing is returned.
%
%   Example:
%     P = rand(500, 2);
%     L = 1 + (sum((P - 0.5).^2, 2) >= 1/(2*pi));
%     [T, NL, n] = qir_train(P, L, 1, 0.5, 0.75, 0.001, 1, 100, 1, 1, 0);
%     figure('visible', 'off'); qir_plot_nodes(T, NL, 0.5); close
%
%   See also QIR_TRAIN, QIR_FIT, QIR_PERF, QIR_DEMO, QIR_READ_MODEL.

[Templates, NLabels, ratio, pair, model] = split_arguments(varargin);
M = (size(Templates, 2) - 1) / 2;
if M ~= fix(M) || M < 1
  error('qir_plot_nodes:columns', 'Templates has %d columns; a model of M features has 2M+1.', ...
        size(Templates, 2));
end
if isempty(pair) && M ~= 2
  error('qir_plot_nodes:notTwoD', ...
        ['Templates has %d columns: a model of 2 features (5 columns) is drawn whole; ' ...
         'for a wider one choose two features, qir_plot_nodes(..., [i j]).'], size(Templates, 2));
end
if isempty(pair)
  pair = [1 2];
end
if numel(pair) ~= 2 || any(pair < 1 | pair > M | pair ~= fix(pair)) || pair(1) == pair(2)
  error('qir_plot_nodes:features', 'Choose two different features from 1 to %d.', M);
end
if numel(NLabels) ~= size(Templates, 1)
  error('qir_plot_nodes:labels', 'NLabels needs one label per row of Templates.');
end

% The library's rule, the qir command's: each node's shadow on the two
% features, in the data's units.
[lo, hi] = deal([]);
if ~isempty(model) && ~isempty(model.feature_min)
  [lo, hi] = deal(model.feature_min, model.feature_max);
end
shapes = qir_library('shapes', full(double(Templates)), ratio, pair(:)', lo, hi);

labels = unique(NLabels(:));
was_held = ishold;
hold on
h = zeros(size(Templates, 1), 1);
for k = 1:size(Templates, 1)
  colour = node_colour(find(labels == NLabels(k), 1));
  h(k) = draw_node(shapes(k, :), colour);
end
if same_scale(shapes)
  axis equal
end
xlabel(feature_text(model, pair(1)));
ylabel(feature_text(model, pair(2)));
if ~isempty(h)
  [~, first] = unique(NLabels(:), 'first');
  legend(h(first), class_texts(model, labels), 'Location', 'eastoutside', 'AutoUpdate', 'off');
end
if ~was_held
  hold off
end
if nargout > 0
  varargout{1} = h;
end
end

% One scale for both axes, so that a ball looks round, unless one extent is
% more than twice the other (features in different units), as 'qir plot' does.
function same = same_scale(shapes)
same = true;
if isempty(shapes)
  return
end
a = shapes(:, 5) * pi / 180;
reach_x = hypot(shapes(:, 3) .* cos(a), shapes(:, 4) .* sin(a));
reach_y = hypot(shapes(:, 3) .* sin(a), shapes(:, 4) .* cos(a));
wide = max(shapes(:, 1) + reach_x) - min(shapes(:, 1) - reach_x);
high = max(shapes(:, 2) + reach_y) - min(shapes(:, 2) - reach_y);
same = min(wide, high) >= max(wide, high) / 2 || max(wide, high) == 0;
end

function text = feature_text(model, k)
if ~isempty(model) && isfield(model, 'feature_names') && ~isempty(model.feature_names)
  text = model.feature_names{k};
else
  text = sprintf('feature %d', k);
end
end

function texts = class_texts(model, labels)
texts = arrayfun(@(label) sprintf('label %g', label), labels, 'UniformOutput', false);
if ~isempty(model) && ~isempty(model.class_names)
  [named, where] = ismember(labels, model.class_labels);
  texts(named) = model.class_names(where(named));
end
end

function [Templates, NLabels, ratio, pair, model] = split_arguments(args)
pair = [];
model = [];
if numel(args) >= 1 && isstruct(args{1})
  if numel(args) > 2
    error('qir_plot_nodes:arguments', 'qir_plot_nodes(model) takes at most a feature pair.');
  end
  model = args{1};
  Templates = model.Templates;
  NLabels = model.NLabels;
  ratio = model.ratio;
  if numel(args) == 2
    pair = args{2};
  end
  return
end
if numel(args) ~= 3 && numel(args) ~= 4
  error('qir_plot_nodes:arguments', 'qir_plot_nodes needs Templates, NLabels and ratio.');
end
[Templates, NLabels, ratio] = args{1:3};
if numel(args) == 4
  pair = args{4};
end
end

function handle = draw_node(shape, colour)
% shape: [cx cy along across angle_degrees]
if shape(3) == 0 && shape(4) == 0
  handle = plot(shape(1), shape(2), 'o', 'MarkerSize', 4, ...
                'MarkerFaceColor', colour, 'MarkerEdgeColor', 'k');
  return
end
t = linspace(0, 2 * pi, 91);
a = shape(5) * pi / 180;
x = shape(3) * cos(t);
y = shape(4) * sin(t);
handle = patch(shape(1) + cos(a) * x - sin(a) * y, shape(2) + sin(a) * x + cos(a) * y, colour, ...
               'FaceAlpha', 0.18, 'EdgeColor', colour);
end

function colour = node_colour(index)
% The colours of the qir command's pictures, so both show the same.
palette = qir_library('colours');
colour = palette(mod(index - 1, size(palette, 1)) + 1, :);
end
