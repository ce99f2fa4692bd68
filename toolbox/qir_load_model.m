function model = qir_load_model(file)
%QIR_LOAD_MODEL  Read a model file written by 'qir train' or qir_save_model.
%   model = qir_load_model(file) returns the model struct that qir_fit
%   makes: the nodes (Templates, NLabels), the training parameters, the
%   scaling range (feature_min, feature_max; empty when the model takes raw
%   features) and the class names, ready for qir_predict. Model files of
%   formats 1 and 2 are read.
%
%   Example:
%     model = qir_fit([0 0; 1 1; 0 1; 1 0], {'a'; 'a'; 'b'; 'b'}, 'Oflag', 0);
%     file = [tempname() '.model'];
%     qir_save_model(model, file);
%     copy = qir_load_model(file);
%     names = copy.class_names
%     delete(file);
%
%   See also QIR_SAVE_MODEL, QIR_PREDICT, QIR_READ_MODEL.

if nargin ~= 1 || ~ischar(file)
  error('qir_load_model:arguments', 'qir_load_model needs a file name.');
end
text = fileread(file);
lines = strtrim(regexp(text, '\r?\n', 'split'));
lines = lines(~cellfun(@isempty, lines));
header = lines(strncmp(lines, '%', 1));
rows = lines(~strncmp(lines, '%', 1));

values = struct();
names = {};
labels = [];
for k = 1:numel(header)
  words = regexp(strtrim(header{k}(2:end)), '\s+', 'split', 'once');
  if numel(words) < 2
    continue
  end
  if strcmp(words{1}, 'class')
    parts = regexp(words{2}, '^(\S+)\s+(.*)$', 'tokens', 'once');
    labels(end + 1, 1) = str2double(parts{1});
    names{end + 1, 1} = strtrim(parts{2});
  elseif ~isempty(regexp(words{1}, '^[A-Za-z_]\w*$', 'once'))
    numbers = sscanf(words{2}, '%f')';
    if ~isempty(numbers) && numel(regexp(words{2}, '\S+', 'match')) == numel(numbers)
      values.(words{1}) = numbers;
    end
  end
end
required = {'format', 'features', 'D', 'ratio', 'vigilance', 'alpha', 'learning_rate', ...
            'max_list_presentations', 'trim_option', 'ct_option', 'list_presentations', 'nodes'};
for k = 1:numel(required)
  if ~isfield(values, required{k})
    error('qir_load_model:format', '%s: not a model file (no %% %s line).', file, required{k});
  end
end
if values.format ~= 1 && values.format ~= 2
  error('qir_load_model:format', '%s: model file format %g is not supported.', file, values.format);
end
M = values.features;
nodes = sscanf(strjoin(rows, ' '), '%f');
if numel(nodes) ~= values.nodes * (2 * M + 2)
  error('qir_load_model:format', '%s: %d node values, expected %d nodes of %d.', file, ...
        numel(nodes), values.nodes, 2 * M + 2);
end
nodes = reshape(nodes, 2 * M + 2, values.nodes)';

model = struct('Templates', nodes(:, 1:2 * M + 1), 'NLabels', nodes(:, end), ...
               'num_list_presentations', values.list_presentations, 'features', M, ...
               'D', values.D, 'ratio', values.ratio, 'vigilance', values.vigilance, ...
               'alpha', values.alpha, 'learning_rate', values.learning_rate, ...
               'max_list_presentations', values.max_list_presentations, ...
               'trim_option', values.trim_option, 'ct_option', values.ct_option, ...
               'feature_min', [], 'feature_max', [], 'class_names', {names}, ...
               'class_labels', labels, 'label_type', 'double');
if isfield(values, 'feature_min') && isfield(values, 'feature_max')
  model.feature_min = values.feature_min;
  model.feature_max = values.feature_max;
end
if ~isempty(names)
  model.label_type = 'cellstr';
end
end
