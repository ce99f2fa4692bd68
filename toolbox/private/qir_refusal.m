function qir_refusal(failure, caller)
%QIR_REFUSAL  Rethrow a refusal of the toolbox's gateway as CALLER's own
%   error ('qir_fit:refused', 'qir_predict:refused', ...); the gateway has
%   already named what CALLER's user passed (X, y, option 'Ratio') rather
%   than the modules' argument positions. Any other error (an interrupt,
%   memory) passes unchanged.
if ~strcmp(failure.identifier, 'qir_gateway:refused')
  rethrow(failure);
end
error([caller ':refused'], '%s: %s', caller, regexprep(failure.message, '^qir_gateway: ', ''));
end
