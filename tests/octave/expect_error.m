function expect_error(expected, name, nlhs, args)
%EXPECT_ERROR  Call module NAME and require an Octave error whose message is
%   EXPECTED, led by the module's name as Octave shows it, with nothing
%   printed before the error and no result assigned.
r = qir_call(name, nlhs, args);
check(~isempty(r.error), '%s gave no error; expected "%s"', name, expected);
check(strcmp(r.error, [name ': ' expected]), ...
      '%s error\n  got:      "%s"\n  expected: "%s: %s"', name, r.error, name, expected);
check(isempty(r.console), '%s printed before its error: "%s"', name, r.console);
end
