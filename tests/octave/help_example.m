function example = help_example(name)
%HELP_EXAMPLE  The example in the help of NAME: the lines indented below its
%   "Example" heading, as the reader would copy them.
raw = strsplit(get_help_text(name), "\n");
first = find(strncmp(strtrim(raw), 'Example', 7), 1);
check(~isempty(first), '%s: no example', name);
indent = @(line) numel(line) - numel(regexprep(line, '^\s+', ''));
last = first;
while last < numel(raw) && ~isempty(strtrim(raw{last + 1})) ...
      && indent(raw{last + 1}) > indent(raw{first})
  last = last + 1;
end
check(last > first, '%s: the example is empty', name);
example = strjoin(raw(first + 1:last), "\n");
end
