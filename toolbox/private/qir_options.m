function [options, rest] = qir_options(defaults, args, caller)
%QIR_OPTIONS  Name-value pairs over a struct of defaults. Names match without
%   regard to case; names that DEFAULTS lacks are returned in REST (pairs) when
%   REST is asked for, else they are an error that lists the valid names.
options = defaults;
rest = {};
if mod(numel(args), 2) ~= 0
  error([caller ':options'], '%s: options come as name-value pairs.', caller);
end
names = fieldnames(defaults);
for k = 1:2:numel(args)
  name = args{k};
  if ~ischar(name)
    error([caller ':options'], '%s: option names are text.', caller);
  end
  match = find(strcmpi(names, name), 1);
  if ~isempty(match)
    options.(names{match}) = args{k + 1};
  elseif nargout > 1
    rest(end + 1:end + 2) = args(k:k + 1);
  else
    error([caller ':options'], '%s: unknown option ''%s'' (options: %s).', caller, name, ...
          strjoin(names', ', '));
  end
end
end
