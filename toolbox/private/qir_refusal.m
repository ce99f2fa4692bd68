function qir_refusal(failure, caller, order)
%QIR_REFUSAL  Rethrow a refusal of the modules or of qir_library as CALLER's
%   own error ('qir_fit:refused', 'qir_predict:refused'), naming what its
%   user passed (X, y, option 'Ratio') rather than the modules' argument
%   positions; any other error (an interrupt, memory) passes unchanged.
%   ORDER, when given, holds the rows of X in the order the module saw them
%   (an ensemble member's), so a row the module names is X's row.
if strcmp(failure.identifier, 'qir_library:refused')
  text = regexprep(failure.message, '^qir_library: ', '');
elseif nargin > 2
  text = qir_library('refusal', failure.message, caller, order);
else
  text = qir_library('refusal', failure.message, caller);
end
if isempty(text)
  rethrow(failure);
end
error([caller ':refused'], '%s: %s', caller, text);
end
