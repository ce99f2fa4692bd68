% qir_fit(..., 'Model', model): a further batch on top of a model's nodes,
% as `qir train --init` learns it; late classes by name; the model's
% scaling and parameters; refusals. Also the stream demo's batches, which
% the library deals.
env = qir_test_setup();
addpath(env.toolbox);
addpath(env.modules);
qir = getenv('QIR_COMMAND');
data = fullfile(env.root, 'data');

W = dlmread(fullfile(data, 'wine.csv'));
early = W(1:2:end, :);
early = early(early(:, 14) < 3, :);  % class 3 comes with the second batch
late = W(2:2:end, :);

% The same batches through the command give the same ensemble, bit for bit:
% every member goes on from its own nodes in its order for the next batch.
first = qir_fit(early(:, 1:13), early(:, 14), 'Oflag', 0, 'Ratio', 0.6);
second = qir_fit(late(:, 1:13), late(:, 14), 'Model', first, 'Oflag', 0);
files = {fullfile(env.work, 'early.csv'), fullfile(env.work, 'late.csv')};
dlmwrite(files{1}, early, 'precision', 17);
dlmwrite(files{2}, late, 'precision', 17);
models = {fullfile(env.work, 'first.model'), fullfile(env.work, 'second.model')};
[status, out] = system(sprintf(['%s train %s -o %s --ratio 0.6 --oflag 0 && ' ...
                                '%s train %s --init %s -o %s --oflag 0'], qir, files{1}, ...
                               models{1}, qir, files{2}, models{1}, models{2}));
check(status == 0, 'command: %s', out);
command = qir_load_model(models{2});
check(isequal(command.Templates, second.Templates) && isequal(command.NLabels, second.NLabels), ...
      'the toolbox continues as qir train --init does');
saved = fullfile(env.work, 'second_saved.model');
qir_save_model(second, saved);
check(strcmp(fileread(saved), fileread(models{2})) && second.batches == 2, ...
      'every member continues as the command''s');
plain = qir_fit(early(:, 1:13), early(:, 14), 'Oflag', 0, 'Voters', 1, 'Shuffle', false);
old = rmfield(plain, {'voters', 'seed', 'shuffle', 'batches', 'further_members'});
check(isequal(qir_fit(late(:, 1:13), late(:, 14), 'Model', old, 'Oflag', 0).Templates, ...
              qir_fit(late(:, 1:13), late(:, 14), 'Model', plain, 'Oflag', 0).Templates), ...
      'a struct without ensemble fields continues as one model');
check(second.ratio == 0.6 && isequal(second.feature_min, first.feature_min), ...
      'the model''s parameters and range stay');
n = size(first.Templates, 1);
check(isequal(second.NLabels(1:n), first.NLabels), 'given nodes keep their places and labels');
check(mean(qir_predict(second, W(:, 1:13)) == W(:, 14)) > 0.9, 'late class learned, early kept');
third = qir_fit(late(:, 1:13), late(:, 14), 'Model', second, 'Oflag', 0, 'Vigilance', 0.2);
check(third.vigilance == 0.2 && third.ratio == 0.6, 'given options replace the model''s');

% Names: known names keep their labels, a new name gets the next one.
names = {'oak'; 'elm'; 'ash'};
a = qir_fit(early(:, 1:13), names(early(:, 14)), 'Oflag', 0);
check(isequal(a.class_names, {'elm'; 'oak'}), 'names of the first batch');
b = qir_fit(late(:, 1:13), names(late(:, 14)), 'Model', a, 'Oflag', 0);
check(isequal(b.class_names, {'elm'; 'oak'; 'ash'}) && isequal(b.class_labels, [1; 2; 3]), ...
      'a new name gets the next label');
predicted = qir_predict(b, W(:, 1:13));
check(mean(strcmp(predicted, names(W(:, 14)))) > 0.9, 'named classes predicted');

% Refusals.
function refused(id, varargin)
  try
    qir_fit(varargin{:});
  catch e
    check(strcmp(e.identifier, id), 'expected %s, got %s: %s', id, e.identifier, e.message);
    return
  end
  error('check failed: no error, expected %s', id);
end
refused('qir_fit:labels', late(:, 1:13), late(:, 14), 'Model', a, 'Oflag', 0);
refused('qir_fit:labels', late(:, 1:13), names(late(:, 14)), 'Model', first, 'Oflag', 0);
refused('qir_fit:model', late(:, 1:13), late(:, 14), 'Model', first, 'Scale', false);
refused('qir_fit:features', late(:, 1:12), late(:, 14), 'Model', first);
refused('qir_fit:model', late(:, 1:13), late(:, 14), 'Model', 7);
refused('qir_fit:model', late(:, 1:13), late(:, 14), 'Model', first, 'Voters', 3);

% The stream demo's batches: every row once, the largest class from halfway.
[test, batches, late_class, late_batch] = toolbox_private('qir_gateway', 'stream_plan', W(:, 14), 4, 1);
rows = sort([test; vertcat(batches{:})]);
check(isequal(rows, (1:178)') && numel(test) == 36, 'every row once, a fifth for testing');
check(late_class == 3 && late_batch == 3 && ~any(W(vertcat(batches{1:2}), 14) == 3), ...
      'class 3 held back until batch 3');

% The toolbox's stream demo feeds the command's batches and gets its table.
set(0, 'defaultfigurevisible', 'off');
shown = evalc('figures = qir_stream_demo(4);');
close all;
[status, out] = system(sprintf('%s demo --stream --batches 4 -o %s', qir, ...
                               fullfile(env.work, 'stream.svg')));
check(status == 0, 'qir demo --stream: %s', out);
rows = regexp(out, '(?m)^ +\d+ +(\d+) +(\d+) +([0-9.]+)% +[0-9.]+ +[0-9.]+ +([0-9.]+)%', 'tokens');
check(numel(rows) == 4 && size(figures, 1) == 4, 'four batches each');
for b = 1:4
  command_row = str2double(rows{b});
  check(isequal(command_row([1 2]), figures(b, [1 2])) && ...
        strcmp(sprintf('%.1f %.1f', figures(b, [3 6])), sprintf('%.1f %.1f', command_row([3 4]))), ...
        'batch %d: the toolbox %s, the command %s', b, mat2str(figures(b, [1 2 3 6])), ...
        mat2str(command_row));
end
check(~isempty(strfind(shown, 'class 9 from batch 3 on')), 'the late class named');
