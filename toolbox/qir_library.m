%QIR_LIBRARY  The rules the toolbox shares with the qir command and Python.
%   qir_library is the toolbox's third module, built by make beside
%   qir_train and qir_perf. It carries the C++ library's model-file reader
%   and writer, feature scaling, stratified folds, training defaults,
%   the members' orders and vote, search grid and guard, and class colours, so that qir_fit, qir_predict, qir_cv, qir_search,
%   qir_load_model and qir_save_model give what 'qir' and the Python
%   package give, to the last bit. Call those functions rather than this
%   module; its commands are:
%
%     model    = qir_library('read', file)
%     [X, y, names] = qir_library('read_data', file)   % use qir_read_data
%     text     = qir_library('format', model)
%                qir_library('write', model, file)
%     S        = qir_library('scale', X, feature_min, feature_max)
%     [lo, hi] = qir_library('range', X)
%     fold     = qir_library('folds', labels, folds, seed)
%     d        = qir_library('defaults', M)   % M: how many features vary
%     M        = qir_library('varying', X)    % in X, one pattern per row
%     orders   = qir_library('orders', N, voters, seed, shuffle[, batch])  % N x voters
%     [labels, shares, classes, votes] = qir_library('vote', model, member_labels, unknown)
%     [heading, note] = qir_library('member_text', k, K)
%     line     = qir_library('progress', k, K, presentations, nodes, seconds)  % '' off a terminal
%     [grid, voters, finalists] = qir_library('grid', M)
%     [gain, error, better] = qir_library('gain', accuracy, default_accuracy)
%     order    = qir_library('rank', accuracy, unknown, nodes)
%     label    = qir_library('unknown_label', NLabels)
%     ok       = qir_library('is_label', values)
%     rgb      = qir_library('colours')
%     shapes   = qir_library('shapes', Templates, ratio, [i j], feature_min, feature_max)
%                % each node on features i, j in the data's units: rows
%                % [cx cy along across angle_degrees], as 'qir plot' draws them
%     text     = qir_library('hint', 'training', nodes, patterns)   % '' when none
%     text     = qir_library('hint', 'classification', unknown, patterns)
%     text     = qir_library('hint', 'presentations', most_presentations, limit[, given])
%     [ids, texts] = qir_library('warnings', X, labels)  % about training data
%     ids      = qir_library('warnings')                   % all their identifiers
%     text     = qir_library('refusal', message, caller)   % caller: 'qir_fit', 'qir_predict'
%     P        = qir_library('parameters')   % the parameter table: P(k).name, .toolbox,
%                % .flag, .python, .model_key, .train_input, .perf_input,
%                % .default (NaN: the data decide; .default_text says how),
%                % .range_text, .description, ...
%
%   Refusals raise the error 'qir_library:refused' with the library's
%   message, such as 'm.model:17: node label 2 has no ''% class'' line'.
%
%   Example:
%     d = qir_library('defaults', qir_library('varying', X));
%     size_bound = d.D
%
%   See also qir_load_model, qir_save_model, qir_fit, make.
