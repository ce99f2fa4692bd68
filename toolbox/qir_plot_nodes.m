function h = qir_plot_nodes(Templates, NLabels, ratio)
%QIR_PLOT_NODES Draw the category regions of a 2-D QIR model.
%   QIR_PLOT_NODES(Templates, NLabels, ratio) draws every node of a model of
%   two features into the current axes, coloured by its label in NLabels:
%   a node with a direction as the ellipse with half-axis radius along the
%   direction and ratio*radius across it; a node without direction (all
%   zero) as a circle of its radius, or as a dot when the radius is 0.
%   Templates and NLabels are the first two results of QIR_TRAIN, one row
%   [center(1:2) direction(1:2) radius] per node; ratio is the one used for
%   training. The current hold state is kept.
%
%   H = QIR_PLOT_NODES(...) returns one graphics handle per node.
%
%   Example:
%     P = rand(500, 2);
%     L = 1 + (sum((P - 0.5).^2, 2) >= 1/(2*pi));
%     [T, NL] = qir_train(P, L, 1, 0.5, 0.75, 0.001, 1, 100, 1, 1, 1);
%     qir_plot_nodes(T, NL, 0.5); axis equal
%
%   See also QIR_TRAIN, QIR_PERF, QIR_DEMO, QIR_READ_MODEL.

if nargin ~= 3
  error('qir_plot_nodes:arguments', 'qir_plot_nodes needs Templates, NLabels and ratio.');
end
if size(Templates, 2) ~= 5
  error('qir_plot_nodes:notTwoD', ...
        'Templates has %d columns: only models of 2 features (5 columns) can be drawn.', ...
        size(Templates, 2));
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
  h(k) = draw_node(Templates(k, :), ratio, colour);
end
if ~was_held
  hold off
end
end

function handle = draw_node(row, ratio, colour)
centre = row(1:2);
direction = row(3:4);
radius = row(5);
if all(direction == 0) && radius == 0
  handle = plot(centre(1), centre(2), 'o', 'MarkerSize', 4, ...
                'MarkerFaceColor', colour, 'MarkerEdgeColor', 'k');
  return
end
if all(direction == 0)
  along = [1 0];
  across_radius = radius;   % a ball: a circle of the radius
else
  along = direction / norm(direction);
  across_radius = ratio * radius;
end
across = [-along(2) along(1)];
t = linspace(0, 2 * pi, 91)';
x = centre(1) + radius * cos(t) * along(1) + across_radius * sin(t) * across(1);
y = centre(2) + radius * cos(t) * along(2) + across_radius * sin(t) * across(2);
handle = patch(x, y, colour, 'FaceAlpha', 0.18, 'EdgeColor', colour);
end

function colour = node_colour(index)
% The palette of the qir command's pictures, so both show the same colours.
palette = [31 119 180; 214 39 40; 44 160 44; 255 127 14; 148 103 189; ...
           140 86 75; 227 119 194; 23 190 207; 188 189 34; 127 127 127] / 255;
colour = palette(mod(index - 1, size(palette, 1)) + 1, :);
end
