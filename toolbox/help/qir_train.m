%QIR_TRAIN  Learn category nodes (hyper-ellipsoids) from labelled patterns.
%   [Templates, NLabels, num_list_presentations] = qir_train(Patterns, PLabels,
%       D, ratio, vigilance, alpha, learning_rate, max_list_presentations,
%       trim_option, ct_option, oflag)
%   [...] = qir_train(..., oflag, Templates, NLabels)
%
%   Presents the whole list of patterns again and again. A pattern that no
%   node of its class takes in creates a new node (a point at the pattern);
%   the winning node of the right class grows toward the pattern; a winning
%   node of the wrong class raises the vigilance for that pattern (match
%   tracking). Training stops when one presentation creates and changes no
%   node (convergence) or after max_list_presentations presentations.
%
%   The eleven arguments are required, in this order; all are real doubles.
%   Integer arguments are truncated toward zero.
%
%   Continuing (incremental training): given Templates and NLabels of an
%   earlier result (or written by hand) as the 12th and 13th arguments,
%   training starts from those nodes instead of none. They are made before
%   the first pattern, in row order, exactly as qir_perf makes them, and
%   compete and learn like new nodes; trimming never removes them, so
%   classes missing from the new patterns are not forgotten. Pass the same D,
%   ratio and scaling of the features as in the earlier call. Both or
%   neither: 12 arguments are refused ("11 input arguments required.").
%
%   The 13-argument contract in full:
%   - Checks: the eleven first, as always; then Templates (two dimensions,
%     full real double, size, then its width: with rows, 2M+1 columns for
%     the M columns of Patterns, so with M = 0 one column and the two
%     columns qir_perf accepts for M = 0 are refused; then finite values,
%     "12th input argument (Templates) holds a non-finite value at row R,
%     column C; the nodes are damaged; train them again.", radius at least
%     0, direction zero or of unit length); then NLabels (two dimensions,
%     full real double, shape Gx1 or 1xG, 32-bit range, whole numbers);
%     the number of results last.
%   - No nodes: Templates without rows (of any width) take NLabels of 0x1
%     or 1x0, as qir_perf takes them, or [] (0x0); any other empty shape
%     (0x3) is refused as qir_perf refuses it. The call is then the
%     eleven-argument one, output for output.
%   - Results: the given nodes' rows come first, in their order, then the
%     nodes made (trimming removes only those); the trace numbers the given
%     nodes #1..#G and new ones from #G+1.
%   - Operations: each given node adds 2 FLOPs (its free size), counted
%     after Tu's.
%   - Summary: after convergence the inactive line counts, with trimming,
%     the made nodes it trimmed, without trimming every inactive node
%     (given ones included); its percentage is always that count over all
%     nodes of the run (given and made). Then "G nodes given (I inactive),
%     C created": I is how many given nodes no pattern chose, without
%     match tracking, in the last presentation. Training that stopped
%     without converging has no inactive line and prints "G nodes given, C
%     created". Then "K nodes returned (P% compression)" in place of "K
%     nodes created (...)". Every count of one is singular ("1 node given
%     (1 inactive), 1 created", "1 node returned"). With no patterns (N =
%     0) training converges after 0 presentations, every given node is
%     inactive and kept, and the compression is 0%; with M = 0 a template
%     counts as one value.
%
%   Patterns                N x M matrix, one pattern of M features per row.
%                           Scale the features to [0, 1] (qir_fit does it).
%   PLabels                 N x 1 or 1 x N class labels (whole numbers).
%   D                       Size bound, D >= 0. A node's size plus what it
%                           still needs to take in a pattern must stay below D.
%                           Start with the diameter of the data, e.g. sqrt(M)
%                           for features in [0, 1].
%   ratio                   0 < ratio <= 1: length of every minor half-axis
%                           relative to the major one. 1 gives balls. Start
%                           with 0.5.
%   vigilance               0 <= vigilance <= 1: the least match a node must
%                           offer a pattern. Start with 0 and let match
%                           tracking raise it where needed.
%   alpha                   alpha >= 0: choice parameter; the smaller, the
%                           more smaller nodes are favoured. Start with 0.1.
%   learning_rate           0 < learning_rate <= 1: share of the needed growth
%                           applied in one update. Start with 1.
%   max_list_presentations  At least 1. Start with 100.
%   trim_option             1 removes after convergence the nodes that no
%                           pattern chose in the last presentation, 0 keeps
%                           them. Start with 0.
%   ct_option               1 also applies the choice-value test, 0 leaves it
%                           out. Start with 0.
%   oflag                   Console output: 0 none, 1 summary, 2 one line per
%                           presentation, 3 one line per pattern, 4 every
%                           node test as well. Start with 1.
%
%   Templates               K x (2M+1), one node per row: its centre (M
%                           values), the unit direction of its major axis (M
%                           values, zeros while the node is a point) and its
%                           radius, the half-length of the major axis.
%   NLabels                 K x 1, the class label of each node.
%   num_list_presentations  Number of list presentations made; after
%                           convergence the final presentation, which changed
%                           nothing, is not counted.
%
%   Exactly three results must be requested. Wrong arguments raise an error
%   whose message begins "QIR_TRAIN: " and names the first argument at fault;
%   Patterns must be finite (a NaN or Inf is reported with its row and
%   column) and PLabels whole numbers; given Templates and NLabels are
%   checked as qir_perf checks its own (see the contract above), and
%   NLabels must be whole numbers.
%   Ctrl-C stops a long call with "QIR_TRAIN: Interrupted." within moments.
%   The operation totals in the summary add up over every call while the
%   module stays loaded; "clear qir_train" starts them again from zero.
%
%   Example (two classes, the left and the right half of the unit square):
%       [x, y] = meshgrid(0:0.1:1);
%       Patterns = [x(:), y(:)];
%       PLabels = 1 + (Patterns(:, 1) > 0.5);
%       [Templates, NLabels, n] = qir_train(Patterns, PLabels, sqrt(2), 0.5, ...
%           0, 0.1, 1, 100, 0, 0, 1);
%       Labels = qir_perf(Templates, NLabels, sqrt(2), 0.5, 0, 0.1, 0, ...
%           Patterns, -1, 0);
%       accuracy = mean(Labels == PLabels)
%
%   Continuing with a third class that the first call never saw:
%       More = 0.5 + 0.05 * randn(20, 2);
%       [Templates, NLabels, n] = qir_train(More, 3 * ones(20, 1), sqrt(2), ...
%           0.5, 0, 0.1, 1, 100, 0, 0, 1, Templates, NLabels);
%
%   The starting values above are the defaults of qir_fit and of the qir
%   command, chosen by cross-validation on four public data sets scaled to
%   [0, 1]; qir_search tries a grid of settings on your data.
%
%   Build the module with make in the toolbox folder.
%
%   See also qir_perf, qir_fit, qir_search, make.
