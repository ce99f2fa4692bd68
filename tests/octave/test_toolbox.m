% The friendly toolbox layer: qir_fit/qir_predict with scaling and label
% types, model files both ways with the qir command, cross-validation and
% search that agree with the command's, plotting, and every help example.
env = qir_test_setup();
addpath(env.toolbox);
addpath(env.modules);  % the modules ahead of their help files
qir = getenv('QIR_COMMAND');
data = fullfile(env.root, 'data');
set(0, 'defaultfigurevisible', 'off');

function text = model_text(model, env)
  file = fullfile(env.work, 'text.model');
  qir_save_model(model, file);
  text = fileread(file);
end

function out = command(qir, args)
  [status, out] = system([qir ' ' args]);
  check(status == 0, 'qir %s failed:\n%s', args, out);
end

% Scaling: the model keeps the training range, predict applies it (clipped).
W = dlmread(fullfile(data, 'wine.csv'));
X = W(:, 1:13); y = W(:, 14);
model = qir_fit(X, y, 'Oflag', 0);
check(isequal(model.feature_min, min(X)) && isequal(model.feature_max, max(X)), 'range kept');
check(model.D == sqrt(13) && model.ratio == 0.75 && model.alpha == 0.03, 'defaults');
[labels, info] = qir_predict(model, X);
check(mean(labels == y) > 0.95 && ~any(info.unknown), 'wine training accuracy');
far = qir_predict(model, [X(1, :) * 1000; X(2, :) * -1000]);
check(numel(far) == 2, 'clipped patterns classify');
% Labels alone end each vote once settled: the labels of the full vote.
ensemble = qir_fit(X, y, 'Oflag', 0, 'Voters', 5);
[voted, info] = qir_predict(ensemble, X);
check(isequal(qir_predict(ensemble, X), voted) && size(info.shares, 1) == rows(X), ...
      'labels alone are the full vote''s');
[none, info] = qir_predict(ensemble, zeros(0, 13));
check(isempty(none) && isequal(size(info.shares), [0 numel(info.classes)]), 'no rows, no labels');

% Model files both ways with the command give the same labels.
file = fullfile(env.work, 'toolbox.model');
qir_save_model(model, file);
out = command(qir, sprintf('classify %s %s -o - --oflag 0 2>/dev/null', file, ...
                           fullfile(data, 'wine.csv')));
check(isequal(str2double(strsplit(strtrim(out), "\n"))', labels), 'command reads qir_save_model');
command(qir, sprintf('train %s -o %s --oflag 0', fullfile(data, 'iris.csv'), file));
loaded = qir_load_model(file);
I = dlmread(fullfile(data, 'iris.csv'));
out = command(qir, sprintf('classify %s %s -o - --oflag 0 2>/dev/null', file, ...
                           fullfile(data, 'iris.csv')));
check(isequal(str2double(strsplit(strtrim(out), "\n"))', qir_predict(loaded, I(:, 1:4))), ...
      'qir_load_model reads the command''s model');
check(isempty(loaded.class_names) && loaded.features == 4, 'loaded fields');

% Text labels are mapped to 1..K in name order and back; numeric types stay.
names = {'setosa'; 'versicolor'; 'virginica'};
m = qir_fit(I(:, 1:4), names(I(:, 5)), 'Oflag', 0);
check(isequal(m.class_names, names) && isequal(m.class_labels, [1; 2; 3]), 'names mapped');
predicted = qir_predict(m, I(:, 1:4));
check(iscellstr(predicted) && mean(strcmp(predicted, names(I(:, 5)))) > 0.9, 'names back');
qir_save_model(m, file);
check(isequal(qir_load_model(file).class_names, names), 'names survive the file');
m8 = qir_fit(I(:, 1:4), uint8(I(:, 5)), 'Oflag', 0);
check(isa(qir_predict(m8, I(1:3, 1:4)), 'uint8'), 'uint8 labels stay uint8');
[l, info] = qir_predict(m, I(1:2, 1:4), 'Vigilance', 1, 'D', 0.001);
check(all(info.unknown) && all(strcmp(l, '')), 'unknown text label is empty');

% The toolbox takes the library's rules: infinite patterns are refused, not
% clipped into range; the label -2^31 is a label; sparse X is taken as full;
% a categorical's unused categories do not reach the model file.
try
  qir_predict(model, [X(1, 1:12) Inf]);
  check(false, 'qir_predict classified an infinite pattern');
catch e
  check(~isempty(strfind(e.message, 'X holds a non-finite value at row 1, column 13')), 'Inf: %s', e.message);
end
low = qir_fit(I(:, 1:4), -2^31 + (I(:, 5) - 1) * 7, 'Oflag', 0);
[l, info] = qir_predict(low, I(:, 1:4));
check(mean(l == -2^31 + (I(:, 5) - 1) * 7) > 0.9 && ~any(info.unknown), 'label -2^31');
sparse_model = qir_fit(sparse(X), y, 'Oflag', 0);
check(isequal(sparse_model.Templates, model.Templates), 'sparse X trains as full X');
check(isequal(qir_predict(model, sparse(X)), labels), 'sparse X classifies as full X');
if exist('categorical', 'file')
  c = categorical(names(I(:, 5)), [names; {'unused'}]);
  qir_save_model(qir_fit(I(:, 1:4), c, 'Oflag', 0), file);
  check(isequal(qir_load_model(file).class_names, names), 'only used categories are named');
end

% A model file that cannot be written is an error naming the path.
missing = fullfile(tempname(), 'm.model');
try
  qir_save_model(qir_fit(X, y, 'Oflag', 0), missing);
  check(false, 'saving into a missing folder gave no error');
catch err
  check(~isempty(strfind(err.message, ['cannot write ' missing])), 'save error: %s', err.message);
end

% Data that train poorly get one warning line each, with an identifier to
% silence it by, and the fit goes on; cross-validation and search warn once,
% not for each fold or setting.
flat = [X, repmat(5, size(X, 1), 1)];
text = evalc('m = qir_fit(flat, y, ''Oflag'', 0);');
[message, id] = lastwarn();
check(strcmp(id, 'qir:constant_features') && size(m.Templates, 1) > 0, 'constant: %s', id);
check(strcmp(text, ['warning: ' message "\n"]) && ...
      ~isempty(strfind(message, 'column 14 of X has the same value in every pattern')), ...
      'one constant-feature line: %s', text);
evalc('qir_fit(X, ones(size(y)), ''Oflag'', 0);');
[~, id] = lastwarn();
check(strcmp(id, 'qir:single_class'), 'single class: %s', id);
evalc('qir_fit(X(1:5, :), y(1:5), ''Oflag'', 0);');
[~, id] = lastwarn();
check(strcmp(id, 'qir:more_features_than_patterns'), 'wide data: %s', id);
text = evalc('qir_cv(flat, y, ''Folds'', 3, ''Display'', false);');
check(numel(strfind(text, 'warning: ')) == 1, 'qir_cv warns once:\n%s', text);
check(strcmp(warning('query', 'qir:constant_features').state, 'on'), 'qir_cv restores the state');
check(isempty(evalc('qir_fit(X, y, ''Oflag'', 0);')), 'no warning for sound data');

% Refusals name what the user passed to qir_fit and qir_predict, not the
% modules' argument positions.
holey = X;
holey(3, 1) = NaN;
refusals = {{'qir_fit', X, y, 'Ratio', 2}, 'qir_fit: option ''Ratio'' must be in (0.0, 1.0].'; ...
            {'qir_fit', holey, y}, ...
            'qir_fit: X holds a non-finite value at row 3, column 1; drop that pattern or give it a number there.'; ...
            {'qir_fit', holey, y, 'Scale', false}, ...
            'qir_fit: X holds a non-finite value at row 3, column 1; drop that pattern or give it a number there.'; ...
            {'qir_fit', X, y, 'MaxPresentations', 0}, 'qir_fit: option ''MaxPresentations'' must be greater than 0.'; ...
            {'qir_predict', model, X, 'Vigilance', -1}, 'qir_predict: option ''Vigilance'' must be in [0.0, 1.0].'};
for k = 1:size(refusals, 1)
  call = refusals{k, 1};
  try
    feval(call{:}, 'Oflag', 0);
    check(false, 'no error: %s', refusals{k, 2});
  catch e
    check(strcmp(e.message, refusals{k, 2}) && strcmp(e.identifier, [call{1} ':refused']), ...
          'refusal\n  got:      %s\n  expected: %s', e.message, refusals{k, 2});
  end
end

% Hints when training learns the patterns by heart or leaves most unknown.
check(~isempty(strfind(evalc('qir_fit(X, y, ''D'', 0.01);'), 'Hint: 100% of the patterns got a node')), ...
      'qir_fit hint');
cv_text = evalc('qir_cv(X, y, ''D'', 0.01);');
check(~isempty(strfind(cv_text, 'were left unclassified; a lower Vigilance or a larger D ')) ...
      && isempty(strfind(cv_text, '--')), 'qir_cv hint in the toolbox''s option names');
check(isempty(strfind(evalc('qir_fit(X, y);'), 'Hint')), 'no hint for the defaults');

% The default D spans the features that vary, as in the command and Python.
idle = X;
idle(:, end) = 3;
state = warning('off', 'qir:constant_features');
m = qir_fit(idle, y, 'Voters', 1, 'Shuffle', false, 'Oflag', 0);
warning(state);
check(m.D == sqrt(size(X, 2) - 1), 'default D of data with a constant feature: %g', m.D);

% Cross-validation gives the command's figures (same folds, same members'
% orders), for the default ensemble and for one model in the file's order.
mean_of = @(out) regexp(out, 'Mean\s+\S+\s+([0-9.]+)%', 'tokens', 'once'){1};
r = qir_cv(X, y, 'Display', false);
out = command(qir, ['cv ' fullfile(data, 'wine.csv')]);
check(strcmp(sprintf('%.2f', r.accuracy), mean_of(out)), 'qir_cv %.2f, qir cv %s', r.accuracy, mean_of(out));
r = qir_cv(X, y, 'Display', false, 'Voters', 1, 'Shuffle', false);
out = command(qir, ['cv ' fullfile(data, 'wine.csv') ' --voters 1 --shuffle 0']);
check(strcmp(sprintf('%.2f', r.accuracy), mean_of(out)), 'plain qir_cv %.2f, qir cv %s', r.accuracy, mean_of(out));
check(numel(unique(r.fold)) == 5 && all(abs(accumarray(r.fold, 1) - 178 / 5) < 1), 'fold sizes');

% The search is the command's: the same screening, ensembles and choice.
iris_file = fullfile(data, 'iris.csv');
[ranked, best, bm, outcome] = qir_search(I(:, 1:4), I(:, 5), 'Folds', 3, 'Display', false);
check(numel(ranked) == 192 && all(diff([ranked.accuracy]) <= 0) && isstruct(bm), 'search ranking');
out = command(qir, ['search ' iris_file ' --folds 3']);
screened_top = regexp(out, 'Screening[^\n]*\n[^\n]*\n\s+1\s+([0-9.]+)%', 'tokens', 'once'){1};
check(strcmp(sprintf('%.2f', ranked(1).accuracy), screened_top), 'screening %.2f vs %s', ...
      ranked(1).accuracy, screened_top);
defaults_line = regexp(out, 'def\.\s+([0-9.]+)%', 'tokens', 'once'){1};
check(strcmp(sprintf('%.2f', outcome.defaults.accuracy), defaults_line), 'defaults in the search');
check(outcome.kept_defaults == ~isempty(strfind(out, 'Defaults kept')), 'the same choice');
check(isequal(best(11:12), {'Voters', outcome.finalists(1).Voters}) || outcome.kept_defaults, ...
      'best names its voters');
check(any(strcmp(best(1:2:end), 'D')) == ~outcome.kept_defaults, ...
      'kept defaults leave D to the data, a chosen setting names it');

% Ensembles: the same seed gives the command's model file to the byte and
% its votes; one voter without shuffling is one qir_train call.
ensemble_file = fullfile(env.work, 'ensemble.model');
command(qir, sprintf('train %s -o %s --voters 5 --seed 7 --oflag 0', fullfile(data, 'wine.csv'), ...
                     ensemble_file));
ensemble = qir_fit(X, y, 'Voters', 5, 'Seed', 7, 'Oflag', 0);
check(strcmp(model_text(ensemble, env), fileread(ensemble_file)), ...
      'qir_fit and qir train write the same ensemble');
check(~strcmp(model_text(qir_fit(X, y, 'Voters', 5, 'Seed', 8, 'Oflag', 0), env), ...
              fileread(ensemble_file)), 'another seed, other members');
loaded = qir_load_model(ensemble_file);
check(numel(loaded.further_members) == 4 && loaded.voters == 5 && loaded.seed == 7, 'members read');
[voted, info] = qir_predict(loaded, X);
out = command(qir, sprintf('classify %s %s -o - --oflag 0 2>/dev/null', ensemble_file, ...
                           fullfile(data, 'wine.csv')));
check(isequal(str2double(strsplit(strtrim(out), "\n"))', voted), 'qir_predict votes as qir classify');
check(isequal(info.classes, [1 2 3]) && all(abs(sum(info.shares, 2) - 1) < 1e-12) ...
      && all(info.votes == 5), 'vote shares');
[~, top] = max(info.shares, [], 2);
check(isequal(info.classes(top)', voted), 'the vote is the first largest share');
qir_save_model(loaded, file);
check(strcmp(fileread(file), fileread(ensemble_file)), 'an ensemble survives load and save');
continued_file = fullfile(env.work, 'continued.model');
command(qir, sprintf('train %s --init %s -o %s --oflag 0', fullfile(data, 'wine.csv'), ...
                     ensemble_file, continued_file));
qir_save_model(qir_load_model(continued_file), file);
check(strcmp(fileread(file), fileread(continued_file)) && qir_load_model(file).batches == 2, ...
      'a continued ensemble keeps its batches');
scaled = min(max((X - model.feature_min) ./ (model.feature_max - model.feature_min), 0), 1);
[T, NL, P] = qir_train(scaled, y, ...
                       sqrt(13), 0.75, 0, 0.03, 1, 100, 0, 0, 0);
plain = qir_fit(X, y, 'Voters', 1, 'Shuffle', false, 'Oflag', 0);
check(isequal(plain.Templates, T) && isequal(plain.NLabels, NL) && isempty(plain.further_members), ...
      'one voter without shuffling is one qir_train call');
try
  qir_fit(X, y, 'Voters', 3, 'Shuffle', false);
  check(false, 'several voters without shuffling were accepted');
catch err
  check(~isempty(strfind(err.message, 'needs shuffling')), 'voters refusal: %s', err.message);
end
% Members of larger data draw their own rows, as the command's do; a row
% count outside its range is refused.
drawn_file = fullfile(env.work, 'drawn.model');
command(qir, sprintf('train %s -o %s --voters 5 --seed 7 --oflag 0 --max-samples 100', ...
                     fullfile(data, 'wine.csv'), drawn_file));
check(strcmp(model_text(qir_fit(X, y, 'Voters', 5, 'Seed', 7, 'Oflag', 0, 'MaxSamples', 100), env), ...
             fileread(drawn_file)), 'qir_fit and qir train draw the same rows');
for bad = {-1, 2.5}
  try
    qir_fit(X, y, 'MaxSamples', bad{1}, 'Oflag', 0);
    check(false, 'MaxSamples %g accepted', bad{1});
  catch err
    check(~isempty(strfind(err.message, 'MaxSamples must be a whole number >= 0')), ...
          'MaxSamples refusal: %s', err.message);
  end
end
text = evalc('qir_fit(X, y, ''Voters'', 3, ''Oflag'', 2);');
check(~isempty(strfind(text, 'Member 3 of 3:')) && isempty(strfind(text, sprintf('\r'))), ...
      'every member''s text at oflag 2, no progress line off a terminal');
check(~isempty(strfind(evalc('qir_fit(X, y, ''MaxPresentations'', 1);'), ...
                       'stopped after 1 list presentations')), 'presentation limit hint');
% Large data take fewer presentations by default, as in the qir command; a
% pattern with both labels keeps every member at its limit: it is named,
% and no limit hint is given, chosen limit or not (none would converge).
big = mod((0:15999)' * [7919 104729], 16000) / 16000;
big_y = 1 + (big(:, 1) > 0.5);
big(1:2, :) = 0.25;
big_y(1:2) = [1; 2];
limits = {{}, 2; {'Voters', 1}, 42; {'MaxPresentations', 3}, 3};
for k = 1:rows(limits)
  [text, big_model] = evalc('qir_fit(big, big_y, limits{k, 1}{:});');
  check(big_model.max_list_presentations == limits{k, 2} && ...
        big_model.num_list_presentations == limits{k, 2}, 'default presentation limit %d', k);
  check(isempty(strfind(text, 'without converging')), 'limit hint %d: %s', k, text);
  check(~isempty(strfind(text, 'rows 1 and 2 of X are the same pattern with different labels')), ...
        'contradiction warning %d: %s', k, text);
end

% A refusal names the row of X, whatever order the member saw it in.
bad_X = [(1:12)' mod((1:12)', 3)];
bad_X(9, 1) = NaN;
try
  qir_fit(bad_X, 1 + mod((1:12)', 2), 'Voters', 3, 'Oflag', 0);
  check(false, 'a NaN in X accepted');
catch err
  check(~isempty(strfind(err.message, 'row 9')), 'refusal names the row of X: %s', err.message);
end

% Plotting: handles only when asked, equal aspect, shadows of a wider model.
figure;
qir_plot_nodes(model, [1 2]);
check(~exist('ans', 'var') || ~isequal(ans, 0), 'no result without an output');
T = [0.5 0.5 0.5 0 0 1 0.2];  % M = 3, long axis along feature 3
h = qir_plot_nodes(T, 1, 0.5, [1 3]);
x = get(h, 'xdata'); z = get(h, 'ydata');
check(abs(max(x) - 0.6) < 1e-3 && abs(max(z) - 0.7) < 1e-3, 'shadow on features 1 and 3');
h = qir_plot_nodes(T, 1, 0.5, [1 2]);
check(abs(max(get(h, 'xdata')) - 0.6) < 1e-3 && abs(max(get(h, 'ydata')) - 0.6) < 1e-3, ...
      'shadow across the long axis is a circle');
check(isequal(daspect()(1:2), [1 1]), 'aspect ratio equal');
close all

% Names: FeatureNames and text labels reach the model file, the axes and the
% legend; a scaling model is drawn in the data's units; a header row and
% names in a data file reach the toolbox through the command's model file.
features = {'sepal length'; 'sepal width'; 'petal length'; 'petal width'};
m = qir_fit(I(:, 1:4), names(I(:, 5)), 'Oflag', 0, 'FeatureNames', features);
check(isequal(m.feature_names, features), 'FeatureNames kept');
qir_save_model(m, file);
check(isequal(qir_load_model(file).feature_names, features), 'feature names survive the file');
figure;
h = qir_plot_nodes(m, [3 4]);
check(strcmp(get(get(gca, 'xlabel'), 'string'), 'petal length') && ...
      strcmp(get(get(gca, 'ylabel'), 'string'), 'petal width'), 'axes named by the features');
check(isequal(get(legend(), 'string'), names'), 'legend names the classes');
x = cell2mat(get(h, 'xdata')); z = cell2mat(get(h, 'ydata'));
span = m.feature_max(3:4) - m.feature_min(3:4);
check(min(x(:)) > m.feature_min(3) - span(1) && max(x(:)) < m.feature_max(3) + span(1) && ...
      max(x(:)) > 1 && max(z(:)) > 1, 'nodes drawn in the data''s units');
% The picture as a file is the command's, whole as rsvg-convert draws it.
picture = fullfile(env.work, 'iris-names.svg');
qir_plot_nodes(m, [3 4], 'File', picture, 'Title', 'names');
[status, out] = system(['/usr/bin/python3 ' fullfile(env.root, 'tests', 'support', 'picture_check.py') ...
                        ' ' picture]);
check(status == 0, 'the toolbox''s picture is whole: %s', out);
close all
try
  qir_fit(I(:, 1:4), I(:, 5), 'FeatureNames', features(1:3));
  check(false, 'three names for four features accepted');
catch err
  check(strcmp(err.identifier, 'qir_fit:featureNames'), 'FeatureNames refused: %s', err.message);
end
named_file = fullfile(env.work, 'named.csv');
f = fopen(named_file, 'w');
fprintf(f, 'sepal length,sepal width,petal length,petal width,species\n');
for k = 1:rows(I)
  fprintf(f, '%g,%g,%g,%g,%s\n', I(k, 1:4), names{I(k, 5)});
end
fclose(f);
command(qir, sprintf('train %s -o %s --oflag 0 --voters 1 --shuffle 0', named_file, file));
loaded = qir_load_model(file);
check(isequal(loaded.feature_names, features), 'header names reach the toolbox');
predicted = qir_predict(loaded, I(:, 1:4));
check(iscellstr(predicted) && mean(strcmp(predicted, names(I(:, 5)))) > 0.9, ...
      'qir_predict gives the file''s class names');

% The pictures by name are the command's, byte for byte, from the same
% model and data (class names, the vote through this session's modules).
for what = {'confusion', 'votes', 'nodes'}
  ours = fullfile(env.work, ['toolbox-' what{1} '.svg']);
  theirs = fullfile(env.work, ['command-' what{1} '.svg']);
  svg = qir_picture(loaded, what{1}, I(:, 1:4), names(I(:, 5)), 'Title', 'T', 'File', ours);
  command(qir, sprintf('plot %s %s --show %s --title T -o %s', file, named_file, what{1}, theirs));
  check(strcmp(fileread(ours), svg) && strcmp(fileread(theirs), svg), ...
        'qir_picture(''%s'') is the command''s picture', what{1});
end
try
  qir_picture(loaded, 'confusion', I(:, 1:4));
  check(false, 'a confusion matrix without true labels');
catch err
  check(strcmp(err.identifier, 'qir_picture:refused') && ...
        ~isempty(strfind(err.message, 'true labels')), 'picture refusal: %s', err.message);
end

% The library's parameter table names qir_fit's options and their defaults.
P = toolbox_private('qir_gateway', 'parameters');
d = qir_fit(I(:, 1:4), I(:, 5), 'Oflag', 0);
for k = 1:numel(P)
  if isfield(d, P(k).model_key) && ~isnan(P(k).default)
    value = d.(P(k).model_key);
    if ischar(value)  % a choice, by its word; 'auto' is kept as what it resolved to
      expected = strrep(P(k).default_text, 'auto', 'minmax');  % iris has no outliers
      check(strcmp(value, expected), 'default of %s', P(k).toolbox);
    else
      check(double(value) == P(k).default, 'default of %s', P(k).toolbox);
    end
  end
end

% Every help example of the friendly layer runs as printed.
for name = {'qir_fit', 'qir_predict', 'qir_save_model', 'qir_load_model', 'qir_cv', ...
            'qir_search', 'qir_plot_nodes', 'qir_picture'}
  evalc(help_example(name{1}));
end
check(~isempty(strfind(get_help_text('Contents'), 'qir_fit')), 'Contents lists qir_fit');
