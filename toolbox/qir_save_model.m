function qir_save_model(model, file)
%QIR_SAVE_MODEL  Write a model to a file that the qir command reads.
%   qir_save_model(model, file) writes the model struct of qir_fit or
%   qir_load_model in the qir command's model file format: '%' header lines
%   with the parameters, the scaling range and the class names, then one
%   line per node, its template row and label. Every number is written with
%   the fewest digits that read back as the same double, as the command
%   writes them. 'qir classify' then takes the file, and
%   load(file, '-ascii') gives [Templates NLabels].
%
%   Example:
%     model = qir_fit([0 0; 1 1; 0 1; 1 0], [1; 1; 2; 2], 'Oflag', 0);
%     file = [tempname() '.model'];
%     qir_save_model(model, file);
%     copy = qir_load_model(file);
%     same = isequal(copy.Templates, model.Templates)
%     delete(file);
%
%   See also QIR_LOAD_MODEL, QIR_FIT, QIR_READ_MODEL.

if nargin ~= 2 || ~isstruct(model) || ~ischar(file)
  error('qir_save_model:arguments', 'qir_save_model needs a model struct and a file name.');
end
M = model.features;
scaled = ~isempty(model.feature_min);
named = ~isempty(model.class_names);
lines = {'% QIR model: category nodes learned by qir_train', ...
         sprintf('%% format %d', 1 + (scaled || named)), sprintf('%% features %d', M)};
if scaled
  lines{end + 1} = ['% feature_min ' numbers(model.feature_min)];
  lines{end + 1} = ['% feature_max ' numbers(model.feature_max)];
end
keys = {'D', 'D'; 'ratio', 'ratio'; 'vigilance', 'vigilance'; 'alpha', 'alpha'; ...
        'learning_rate', 'learning_rate'; 'max_list_presentations', 'max_list_presentations'; ...
        'trim_option', 'trim_option'; 'ct_option', 'ct_option'; ...
        'list_presentations', 'num_list_presentations'};
for k = 1:size(keys, 1)
  lines{end + 1} = ['% ' keys{k, 1} ' ' numbers(model.(keys{k, 2}))];
end
for k = 1:numel(model.class_names)
  name = strtrim(model.class_names{k});
  if isempty(name) || any(name == sprintf('\n') | name == sprintf('\r'))
    error('qir_save_model:name', 'qir_save_model: class name ''%s'' is empty or spans lines.', name);
  end
  lines{end + 1} = sprintf('%% class %d %s', model.class_labels(k), name);
end
lines{end + 1} = sprintf('%% nodes %d', size(model.Templates, 1));
lines{end + 1} = sprintf('%% columns: center(1:%d) direction(1:%d) radius label', M, M);
rows = [model.Templates, model.NLabels(:)];
for r = 1:size(rows, 1)
  lines{end + 1} = numbers(rows(r, :));
end

fid = fopen(file, 'w');
if fid < 0
  error('qir_save_model:open', 'qir_save_model: cannot write %s.', file);
end
fprintf(fid, '%s\n', lines{:});
fclose(fid);
end

function text = numbers(values)
% The shortest of %.15g, %.16g, %.17g that reads back exactly.
parts = cell(1, numel(values));
for k = 1:numel(values)
  v = values(k);
  for digits = 15:17
    parts{k} = sprintf('%.*g', digits, v);
    if str2double(parts{k}) == v || isnan(v)
      break
    end
  end
end
text = strjoin(parts, ' ');
end
