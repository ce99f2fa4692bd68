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
%   aspect ratio so that circles look round.
%
%   QIR_PLOT_NODES(Templates, NLabels, ratio, [i j]) draws the nodes of a
%   wider model as seen on features i and j: each hyper-ellipsoid's shadow
%   on the plane of those two features.
%
%   QIR_PLOT_NODES(model) and QIR_PLOT_NODES(model, [i j]) take a model
%   struct of QIR_FIT or QIR_LOAD_MODEL (its nodes live in the scaled
%   features, [0, 1] when the model scales).
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

[Templates, NLabels, ratio, pair] = arguments(varargin);
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

labels = unique(NLabels(:));
was_held = ishold;
hold on
h = zeros(size(Templates, 1), 1);
for k = 1:size(Templates, 1)
  colour = node_colour(find(labels == NLabels(k), 1));
  h(k) = draw_node(Templates(k, :), M, pair, ratio, colour);
end
axis equal
if ~was_held
  hold off
end
if nargout > 0
  varargout{1} = h;
end
end

function [Templates, NLabels, ratio, pair] = arguments(args)
pair = [];
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

function handle = draw_node(row, M, pair, ratio, colour)
centre = row(pair);
direction = row(M + 1:2 * M);
radius = row(end);
if all(direction == 0) && radius == 0
  handle = plot(centre(1), centre(2), 'o', 'MarkerSize', 4, ...
                'MarkerFaceColor', colour, 'MarkerEdgeColor', 'k');
  return
end
if all(direction == 0)
  shape = radius ^ 2 * eye(2);   % a ball: a circle of the radius
else
  % The node's shape matrix (ratio*radius)^2 I + radius^2 (1 - ratio^2) u u',
  % restricted to the two features: the ellipse of its shadow.
  u = direction(pair)' / norm(direction);
  shape = (ratio * radius) ^ 2 * eye(2) + radius ^ 2 * (1 - ratio ^ 2) * (u * u');
end
[axes_, lengths] = eig((shape + shape') / 2);
t = linspace(0, 2 * pi, 91);
points = axes_ * diag(sqrt(max(diag(lengths), 0))) * [cos(t); sin(t)];
handle = patch(centre(1) + points(1, :)', centre(2) + points(2, :)', colour, ...
               'FaceAlpha', 0.18, 'EdgeColor', colour);
end

function colour = node_colour(index)
% The colours of the qir command's pictures, so both show the same.
palette = qir_library('colours');
colour = palette(mod(index - 1, size(palette, 1)) + 1, :);
end
