function r = qir_call(name, nlhs, args)
%QIR_CALL  Call module NAME with the cell array ARGS, asking for NLHS
%   results, and keep what came back: r.outputs (cell), r.error (the error
%   message, '' if none) and r.console (everything printed, via evalc).
outs = cell(1, nlhs);
err = '';
if nlhs == 0
  console = evalc('try, feval(name, args{:}); catch failure, err = failure.message; end');
else
  console = evalc('try, [outs{1:nlhs}] = feval(name, args{:}); catch failure, err = failure.message; end');
end
r = struct('outputs', {outs}, 'error', err, 'console', console);
end
