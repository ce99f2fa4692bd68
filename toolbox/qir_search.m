function [ranked, best, model, outcome] = qir_search(X, y, varargin)
%QIR_SEARCH  Look for a QIR training setting that beats the defaults, by cross-validation.
%   ranked = qir_search(X, y)
%   [ranked, best, model, outcome] = qir_search(X, y, 'Name', value, ...)
%
%   The search of 'qir search', on the patterns X with labels y alone:
%   unless 'Scale' is given, cross-validates (qir_cv, the same folds for
%   all) the defaults (scaled by 'auto') and the defaults under the one of
%   minmax and rank that 'auto' does not pick on X, and keeps 'auto'
%   unless the other beats it by more than the standard error of its
%   per-fold gain; cross-validates every node setting of the grid below
%   under that scaling with one shuffled member each and ranks them by mean
%   accuracy, then fewer unclassified patterns, then fewer nodes; tries the
%   best with ensembles of several sizes; and keeps the defaults of qir_fit
%   unless the best ensemble (or the defaults under the chosen scaling)
%   beats them by more than the standard error of its per-fold gain. The
%   grid (M is the number of features that vary):
%     D          0.25, 0.354, 0.5, 0.71, 1, 1.41, 2, 2.83 times sqrt(M)
%     Vigilance  0, 0.5
%     Ratio      0.5, 0.75, 1
%     Alpha      0.01, 0.1
%     CT         0, 1
%     Voters     5, 23 (for the best node setting)
%   The other parameters keep the defaults of qir_fit. This is the library's
%   search, calling this session's modules; the members train one after
%   the other, so it takes longer than 'qir search'.
%
%   Options: 'Folds' (default 5), 'Seed' (default 1: folds and orders),
%   'Scale' (default: chosen by the search; or true, false, 'standard',
%   'rank', as qir_fit takes it, the only scaling tried), 'Display'
%   (default true: print the scalings, the ten best screened settings,
%   the ensembles and the choice).
%
%   ranked is the screened settings, a struct array, best first, with fields
%   D, Ratio, Vigilance, Alpha, CT, Voters, accuracy, unknown and nodes.
%   best is the chosen setting as a cell array of name-value pairs for
%   qir_fit (the defaults unless clearly beaten; then without 'D', which
%   qir_fit takes from the data it is given), and model (when asked
%   for) is qir_fit of it on all of X and y. outcome has the ensembles
%   (finalists, best first, with gain and gain_error in points), the
%   defaults' result, the defaults under each scaling tried (scalings, best
%   first, with Scale; empty when 'Scale' is given), kept_defaults and
%   seconds.
%
%   Example:
%     X = rand(120, 2);
%     y = 1 + (X(:, 1) > X(:, 2));
%     [ranked, best] = qir_search(X, y, 'Folds', 3, 'Display', false);
%     top = ranked(1)
%
%   See also QIR_CV, QIR_FIT.

if nargin < 2
  error('qir_search:arguments', 'qir_search needs patterns X and labels y.');
end
o = qir_options(struct('Folds', 5, 'Seed', 1, 'Scale', [], 'Display', true), varargin, ...
                'qir_search');
if ~(isnumeric(X) || islogical(X)) || ~ismatrix(X) || isempty(X)
  error('qir_search:patterns', 'qir_search: X must be a non-empty numeric matrix, one pattern per row.');
end
N = size(X, 1);
if numel(y) ~= N
  error('qir_search:labels', 'qir_search: %d labels for %d patterns.', numel(y), N);
end
if ~(isnumeric(o.Folds) && isscalar(o.Folds) && o.Folds >= 2 && o.Folds <= N && o.Folds == fix(o.Folds))
  error('qir_search:folds', 'qir_search: Folds must be a whole number from 2 to the number of patterns (%d).', N);
end
codes = qir_labels(y, 'qir_search');
quiet = qir_data_warnings(X, codes);  % once, not for each setting
try
  [ranked, outcome, best] = qir_gateway('search', full(double(X)), codes, o);
catch failure
  qir_refusal(failure, 'qir_search');
end
if nargout > 2
  model = qir_fit(X, y, best{:}, 'Seed', o.Seed, 'Oflag', 0);
end
end
