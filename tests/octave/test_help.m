% The toolbox help files: with a help file and a built module side by side
% in one folder, as make leaves them, the module is what runs and the help
% file is what `help` shows; the help gives the calling form and every
% argument, and its example runs as printed.
env = qir_test_setup();
check(~isempty(env.toolbox), 'QIR_TOOLBOX is not set');

folder = fullfile(env.work, 'toolbox_copy');
if ~exist(folder, 'dir')
  mkdir(folder);
end
for name = {'qir_train', 'qir_perf'}
  copyfile(fullfile(env.source_toolbox, 'help', [name{1} '.m']), folder);
  copyfile(fullfile(env.modules, [name{1} '.mex']), folder);
end
addpath(folder);  % ahead of the build's module folder

forms = {'qir_train', ['[Templates, NLabels, num_list_presentations] = qir_train(Patterns, ' ...
                       'PLabels, D, ratio, vigilance, alpha, learning_rate, ' ...
                       'max_list_presentations, trim_option, ct_option, oflag)'], ...
                      {'Patterns', 'PLabels', 'D', 'ratio', 'vigilance', 'alpha', ...
                       'learning_rate', 'max_list_presentations', 'trim_option', 'ct_option', ...
                       'oflag', 'Templates', 'NLabels', 'num_list_presentations'}, 'qir_perf';
         'qir_perf', ['Labels = qir_perf(Templates, NLabels, D, ratio, vigilance, alpha, ' ...
                      'ct_option, Patterns, unknown_label, oflag)'], ...
                     {'Templates', 'NLabels', 'D', 'ratio', 'vigilance', 'alpha', 'ct_option', ...
                      'Patterns', 'unknown_label', 'oflag', 'Labels'}, 'qir_train'};
for k = 1:size(forms, 1)
  [name, form, names, other] = forms{k, :};

  % The module takes precedence over the help file beside it.
  check(strcmp(which(name), fullfile(folder, [name '.mex'])), '%s resolves to %s', name, which(name));
  check(exist(name) == 3, 'exist(''%s'') is %d, not 3 (a module)', name, exist(name));

  text = get_help_text(name);
  lines = strtrim(strsplit(text, "\n"));
  % H1 line: the name, then a one-line summary.
  check(~isempty(regexp(lines{1}, ['^' upper(name) '\s+\S.*\S$'], 'once')), ...
        '%s: H1 line is "%s"', name, lines{1});
  flat = regexprep(text, '\s+', ' ');
  check(~isempty(strfind(flat, form)), '%s: the calling form is missing', name);
  for a = names
    check(any(strncmp(lines, [a{1} ' '], numel(a{1}) + 1)), ...
          '%s: argument %s is not described', name, a{1});
  end
  check(~isempty(regexp(text, ['See also\s+' other], 'once')), '%s: no See also %s', name, other);

  % The example runs as printed: the lines indented below its heading.
  output = evalc(help_example(name));
  check(exist('Labels', 'var') == 1 && ~any(Labels == -1), ...
        '%s: the example left no labels or unknown ones:\n%s', name, output);
  clear Labels
end

% The first example trains and classifies its own patterns without error.
check(exist('accuracy', 'var') == 1 && accuracy == 1, ...
      'qir_train example: accuracy %g', accuracy);
