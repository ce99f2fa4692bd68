% QIR: a supervised, incremental classifier of hyper-ellipsoid category nodes.
%
% Friendly layer (scaled features, tested defaults, any label type)
%   qir_fit         - Train a model: qir_fit(X, y, 'Name', value, ...).
%   qir_predict     - Classify patterns with a model; tells which are unknown.
%   qir_cv          - Stratified k-fold cross-validation of a setting.
%   qir_search      - Rank the settings of a small grid by cross-validation.
%   qir_save_model  - Write a model file that the qir command reads.
%   qir_load_model  - Read a model file of the qir command or qir_save_model.
%   qir_read_data   - Read a data file (CSV, R's write.csv) as the qir command does.
%   qir_plot_nodes  - Draw the category regions (two features at a time).
%   qir_picture     - The qir command's pictures as SVG: nodes, confusion, votes, progress.
%   qir_demo        - The circle-in-the-square benchmark end to end.
%   qir_stream_demo - The digits learned as a stream, beside a refit.
%
% Modules (exact, unscaled; every argument given)
%   qir_train       - Learn category nodes from labelled patterns.
%   qir_perf        - Classify patterns with the nodes of qir_train.
%
% Other
%   qir_read_model  - Nodes and parameters of a model file as matrices.
%   make            - Build the modules for Octave or MATLAB.
