%QIR_PERF  Classify patterns with the category nodes learnt by qir_train.
%   Labels = qir_perf(Templates, NLabels, D, ratio, vigilance, alpha,
%       ct_option, Patterns, unknown_label, oflag)
%
%   Every node competes for every pattern: a node qualifies when its match
%   reaches the vigilance (and, with ct_option 1, its choice value passes
%   the choice-value test); the qualifying node with the highest choice
%   value gives the pattern its label. A pattern for which no node
%   qualifies gets unknown_label.
%
%   All ten arguments are required, in this order; all are real doubles.
%   Integer arguments are truncated toward zero. Pass D, ratio and alpha as
%   used for training.
%
%   Templates      K x (2M+1) node matrix, as returned by qir_train: centre,
%                  direction and radius of one node per row.
%   NLabels        K x 1 or 1 x K node labels, as returned by qir_train.
%   D              Size bound, D >= 0; the value used for training.
%   ratio          0 < ratio <= 1; the value used for training.
%   vigilance      0 <= vigilance <= 1: the least match a node must offer.
%                  0 still leaves a pattern unknown when every node
%                  would have to grow beyond the size bound D to take it
%                  in (or, with ct_option 1, fails the choice-value
%                  test): with a small D many patterns stay unknown.
%                  Higher values leave more far-off patterns unknown.
%   alpha          alpha >= 0; the value used for training, e.g. 0.1.
%   ct_option      1 applies the choice-value test, 0 leaves it out.
%                  Start with 0.
%   Patterns       P x M matrix, one pattern per row, M = (columns of
%                  Templates - 1) / 2.
%   unknown_label  Whole number given to patterns that no node classifies,
%                  e.g. -1 or 0.
%   oflag          Console output: 0 none, 1 summary, 2 one line per
%                  pattern, 3 every node test as well. Start with 1.
%
%   Labels         P x 1, the label given to each pattern.
%
%   Exactly one result must be requested. Wrong arguments raise an error
%   whose message begins "QIR_PERF: " and names the first argument at fault;
%   Templates and Patterns must be finite, and Templates must hold what
%   training gives (radii >= 0, directions all zeros or of unit length).
%   Ctrl-C stops a long call with "QIR_PERF: Interrupted." within moments.
%   The operation totals in the summary add up over every call while the
%   module stays loaded; "clear qir_perf" starts them again from zero.
%
%   Large calls (oflag 0 to 2) share the patterns among worker threads, one
%   per processor core; nodes that provably fail the vigilance test for a
%   pattern are skipped (counted as evaluated). Results, console text and
%   operation totals are the same either way. The environment variable
%   QIR_THREADS sets the number of threads; inside parfor, where every
%   worker would start its own, set it to 1: setenv('QIR_THREADS', '1').
%
%   Example (train on a grid over the unit square, then classify new points):
%       [x, y] = meshgrid(0:0.1:1);
%       Patterns = [x(:), y(:)];
%       PLabels = 1 + (Patterns(:, 1) > 0.5);
%       [Templates, NLabels, n] = qir_train(Patterns, PLabels, sqrt(2), 0.5, ...
%           0, 0.1, 1, 100, 0, 0, 0);
%       Labels = qir_perf(Templates, NLabels, sqrt(2), 0.5, 0, 0.1, 0, ...
%           [0.2 0.7; 0.9 0.1], -1, 1)
%
%   Build the module with make in the toolbox folder.
%
%   See also qir_train, qir_predict, make.
