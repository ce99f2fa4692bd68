function quiet = qir_data_warnings(X, labels)
%QIR_DATA_WARNINGS  Warn about training data that cannot give a useful model.
%   quiet = qir_data_warnings(X, labels) issues the library's warnings
%   (such as 'qir:single_class'), one line each. While quiet lives, those
%   warnings stay off, so that the folds of the same data do not repeat
%   them; without an output they stay as they were. quiet =
%   qir_data_warnings() only silences them (for the demos' bundled data).
quiet = [];
if nargin == 0
  quiet = silenced();
  return;
end
% Data the caller will refuse get no warnings: its own error says more.
if ~(isnumeric(X) || islogical(X)) || ~ismatrix(X) || numel(labels) ~= size(X, 1)
  return;
end
[ids, texts] = qir_gateway('warnings', full(double(X)), double(labels(:)));
backtrace = warning('query', 'backtrace');
warning('off', 'backtrace');
for k = 1:numel(ids)
  warning(ids{k}, '%s', texts{k});
end
warning(backtrace.state, 'backtrace');
if nargout > 0
  quiet = silenced();
end
end

function quiet = silenced()
kinds = qir_gateway('warnings');
states = cellfun(@(id) warning('query', id), kinds);
for k = 1:numel(kinds)
  warning('off', kinds{k});
end
quiet = onCleanup(@() warning(states));
end
