function [Templates, NLabels, params] = qir_read_model(file)
%QIR_READ_MODEL Read a model file written by the qir command.
%   [Templates, NLabels, params] = QIR_READ_MODEL(file) reads the nodes and
%   training parameters that 'qir train' saved. Templates has one row
%   [center(1:M) direction(1:M) radius] per node and NLabels its labels, as
%   QIR_TRAIN returns them, so they can go straight to QIR_PERF or
%   QIR_PLOT_NODES. params is a struct of the header values: features, D,
%   ratio, vigilance, alpha, learning_rate, max_list_presentations,
%   trim_option, ct_option, list_presentations and nodes.
%
%   The nodes of a model that scales its features (format 2 files, with
%   '% feature_min' lines) live in the scaled space: QIR_LOAD_MODEL and
%   QIR_PREDICT apply the scaling.
%
%   The file is plain text: '%' lines hold the parameters, every other line
%   is one node [template_row label], so LOAD(file, '-ascii') alone gives
%   the matrix [Templates NLabels].
%
%   Example:
%     % after: qir train data/circle_train.csv -o circle.model
%     [T, NL, p] = qir_read_model('circle.model');
%     qir_plot_nodes(T, NL, p.ratio); axis equal
%
%   See also QIR_TRAIN, QIR_PERF, QIR_PLOT_NODES, LOAD.

params = read_header(file);
if ~isfield(params, 'features')
  error('qir_read_model:format', '%s: not a model file (no %% features line).', file);
end
columns = 2 * params.features + 1;
if isfield(params, 'nodes') && params.nodes == 0
  X = zeros(0, columns + 1);
else
  X = load(file, '-ascii');
end
if size(X, 2) ~= columns + 1
  error('qir_read_model:format', '%s: node rows have %d values, expected %d.', ...
        file, size(X, 2), columns + 1);
end
Templates = X(:, 1:columns);
NLabels = X(:, end);
end

function params = read_header(file)
fid = fopen(file, 'r');
if fid < 0
  error('qir_read_model:open', 'Cannot open %s.', file);
end
cleanup = onCleanup(@() fclose(fid));
params = struct();
line = fgetl(fid);
while ischar(line)
  words = regexp(strtrim(line), '^%\s*([A-Za-z_]\w*)\s+(\S+)$', 'tokens', 'once');
  if ~isempty(words)
    value = str2double(words{2});
    if ~isnan(value) || strcmpi(words{2}, 'NaN')
      params.(words{1}) = value;
    end
  end
  line = fgetl(fid);
end
end
