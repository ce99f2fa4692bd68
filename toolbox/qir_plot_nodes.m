function varargout = qir_plot_nodes(varargin)
%QIR_PLOT_NODES Draw a QIR model over data: its decisions, nodes and the points.
%   QIR_PLOT_NODES(model, X, y) draws into the current axes the points of X
%   (coloured by their labels y, grey without y) over the model's decision
%   regions (a grid over the view classified by QIR_PREDICT, shaded by the
%   class it gets, blank where no node classifies) and the nodes of its
%   first member, with translucent fills. A model of 2 features is drawn on
%   both, in the data's units; a wider one on the first two principal
%   components of X in the model's scaled space, each node drawn where that
%   plane cuts it, all clipped to the data's range. Classes are in
%   ascending label order with the colours of the qir command's pictures.
%
%   QIR_PLOT_NODES(model, X, y, [i j]) draws features i and j instead (the
%   others held at the data's mean). QIR_PLOT_NODES(model) and
%   QIR_PLOT_NODES(model, [i j]) draw the nodes alone.
%   QIR_PLOT_NODES(Templates, NLabels, ratio[, [i j]]) draws the nodes of
%   QIR_TRAIN's results (a model without scaling).
%
%   QIR_PLOT_NODES(..., 'File', name) also writes the picture as SVG, the
%   same picture that 'qir plot' draws; 'Title' names it.
%
%   H = QIR_PLOT_NODES(...) returns one graphics handle per node drawn.
%
%   Example:
%     P = rand(500, 2);
%     L = 1 + (sum((P - 0.5).^2, 2) >= 1/(2*pi));
%     model = qir_fit(P, L, 'Oflag', 0);
%     figure('visible', 'off'); qir_plot_nodes(model, P, L); close
%
%   See also QIR_PICTURE, QIR_FIT, QIR_PREDICT, QIR_TRAIN, QIR_DEMO.

[model, X, y, pair, file, title_text] = split_arguments(varargin);
codes = qir_class_codes(model, y, 'qir_plot_nodes');
if isempty(X)
  X = zeros(0, model.features);
end
layout = qir_gateway('picture_layout', model, full(double(X)), codes, pair);
[grid_codes, unknown] = grid_classes(model, layout);
if ~isempty(file)
  svg = qir_gateway('picture_svg', model, full(double(X)), codes, title_text, pair, grid_codes, unknown);
  try
    qir_gateway('write', svg, file);  % the old file stays whole until the new one is
  catch failure
    error('qir_plot_nodes:file', 'qir_plot_nodes: %s.', failure.message);
  end
end
h = draw(layout, model, codes, grid_codes);
if nargout > 0
  varargout{1} = h;
end
end

function h = draw(layout, model, codes, grid_codes)
palette = qir_gateway('colours');
colour = @(label) palette(mod(find(layout.classes == label, 1) - 1, size(palette, 1)) + 1, :);
was_held = ishold;
hold on
box = layout.box;
% The regions: each class's colour at 22% over white, blank where unknown.
rgb = ones(layout.rows, layout.columns, 3);
for k = 1:numel(grid_codes)
  if any(layout.classes == grid_codes(k))
    [r, c] = deal(floor((k - 1) / layout.columns) + 1, mod(k - 1, layout.columns) + 1);
    rgb(r, c, :) = reshape(1 - 0.22 * (1 - colour(grid_codes(k))), 1, 1, 3);
  end
end
dx = (box(2) - box(1)) / layout.columns;
dy = (box(4) - box(3)) / layout.rows;
image([box(1) + dx / 2, box(2) - dx / 2], [box(4) - dy / 2, box(3) + dy / 2], rgb);
set(gca, 'ydir', 'normal');
node_labels = model.NLabels(:);
drawn = find(~isnan(layout.nodes(:, 1)));
alpha = min(max(1.2 / max(numel(drawn), 1), 0.015), 0.07);
h = zeros(numel(drawn), 1);
t = linspace(0, 2 * pi, 91);
for n = 1:numel(drawn)
  s = layout.nodes(drawn(n), :);
  c = colour(node_labels(drawn(n)));
  if s(3) == 0 && s(4) == 0
    h(n) = plot(s(1), s(2), 'o', 'MarkerSize', 4, 'MarkerFaceColor', c, 'MarkerEdgeColor', 'k');
  else
    a = s(5) * pi / 180;
    x = s(3) * cos(t);
    z = s(4) * sin(t);
    h(n) = patch(s(1) + cos(a) * x - sin(a) * z, s(2) + sin(a) * x + cos(a) * z, c, ...
                 'FaceAlpha', alpha, 'EdgeColor', c);
  end
end
if ~isempty(layout.points)
  if isempty(codes)
    plot(layout.points(:, 1), layout.points(:, 2), '.', 'Color', [0.53 0.53 0.53]);
  else
    for label = layout.classes(:)'
      at = codes == label;
      plot(layout.points(at, 1), layout.points(at, 2), 'o', 'MarkerSize', 3, ...
           'MarkerFaceColor', colour(label), 'MarkerEdgeColor', [0.13 0.13 0.13]);
    end
  end
end
% The legend: one entry per class, in the pictures' order.
keys = zeros(numel(layout.classes), 1);
for k = 1:numel(layout.classes)
  keys(k) = patch(NaN, NaN, colour(layout.classes(k)), 'EdgeColor', 'none');
end
axis([box(1) box(2) box(3) box(4)]);
wide = box(2) - box(1);
high = box(4) - box(3);
if min(wide, high) >= max(wide, high) / 2
  axis equal
  axis([box(1) box(2) box(3) box(4)]);
end
xlabel(layout.x_name);
ylabel(layout.y_name);
if ~isempty(keys)
  legend(keys, layout.class_texts, 'Location', 'eastoutside', 'AutoUpdate', 'off');
end
if ~was_held
  hold off
end
end

% The model's class in every cell of the layout's grid, and the label of
% the cells it leaves unknown.
function [grid_codes, unknown] = grid_classes(model, layout)
unknown = qir_gateway('unknown_label', model);
grid_codes = zeros(0, 1);
if isempty(model.Templates) || isempty(layout.grid)
  grid_codes = repmat(unknown, size(layout.grid, 1), 1);
  return
end
[~, info] = qir_predict(model, layout.grid);
grid_codes = double(info.codes(:));
grid_codes(info.unknown) = unknown;
end

function [model, X, y, pair, file, title_text] = split_arguments(args)
[X, y, pair, file, title_text] = deal([], [], [], '', 'QIR model');
k = find(cellfun(@(a) ischar(a) && any(strcmpi(a, {'File', 'Title'})), args), 1);
options = {};
if ~isempty(k)
  options = args(k:end);
  args = args(1:k - 1);
end
for j = 1:2:numel(options)
  if j + 1 > numel(options)
    error('qir_plot_nodes:arguments', 'qir_plot_nodes: option ''%s'' needs a value.', options{j});
  end
  if strcmpi(options{j}, 'File')
    file = options{j + 1};
  elseif strcmpi(options{j}, 'Title')
    title_text = options{j + 1};
  else
    error('qir_plot_nodes:arguments', 'qir_plot_nodes: unknown option ''%s''.', options{j});
  end
end
if numel(args) >= 1 && isstruct(args{1})
  model = args{1};
  rest = args(2:end);
  if numel(rest) == 1 && numel(rest{1}) == 2 && model.features ~= 2
    pair = rest{1};
    return
  end
  if numel(rest) > 3
    error('qir_plot_nodes:arguments', 'qir_plot_nodes(model, X, y, [i j]) takes at most four arguments.');
  end
  rest(end + 1:3) = {[]};
  [X, y, pair] = rest{:};
  return
end
if numel(args) ~= 3 && numel(args) ~= 4
  error('qir_plot_nodes:arguments', 'qir_plot_nodes needs a model, or Templates, NLabels and ratio.');
end
Templates = full(double(args{1}));
M = (size(Templates, 2) - 1) / 2;
if M ~= fix(M) || M < 1
  error('qir_plot_nodes:columns', 'Templates has %d columns; a model of M features has 2M+1.', ...
        size(Templates, 2));
end
if numel(args{2}) ~= size(Templates, 1)
  error('qir_plot_nodes:labels', 'NLabels needs one label per row of Templates.');
end
% Classified as qir_train's nodes stand: vigilance 0, the choice test off.
model = struct('features', M, 'Templates', Templates, 'NLabels', double(args{2}(:)), ...
               'ratio', args{3}, 'D', 1, 'vigilance', 0, 'alpha', 0.001, 'learning_rate', 1, ...
               'max_list_presentations', 1, 'trim_option', 1, 'ct_option', 0, ...
               'num_list_presentations', 0, 'feature_min', [], 'feature_max', [], ...
               'class_names', {{}}, 'class_labels', [], 'feature_names', {{}}, ...
               'label_type', 'double');
if numel(args) == 4
  pair = args{4};
end
end
