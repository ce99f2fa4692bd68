function check(condition, varargin)
%CHECK  Fail the test with a formatted message unless CONDITION holds.
if ~(islogical(condition) || isnumeric(condition)) || isempty(condition) || ~all(condition(:))
  error('check failed: %s', sprintf(varargin{:}));
end
end
