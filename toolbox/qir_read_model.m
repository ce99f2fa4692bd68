function [Templates, NLabels, params] = qir_read_model(file)
%QIR_READ_MODEL Read a model file written by the qir command.
%   [Templates, NLabels, params] = QIR_READ_MODEL(file) reads the nodes and
%   training parameters that 'qir train' saved. Templates has one row
%   [center(1:M) direction(1:M) radius] per node and NLabels its labels, as
%   QIR_TRAIN returns them, so they can go straight to QIR_PERF or
%   QIR_PLOT_NODES. params is the model struct of QIR_LOAD_MODEL (features,
%   D, ratio, vigilance, alpha, learning_rate, max_list_presentations,
%   trim_option, ct_option, ...) with list_presentations and nodes added:
%   both functions read through the one model-file reader. Of an ensemble,
%   Templates and NLabels are member 1's; params.further_members holds the
%   other members (QIR_PREDICT of QIR_LOAD_MODEL takes their vote).
%
%   The nodes of a model that scales its features (format 2 files, with
%   '% feature_min' lines) live in the scaled space: QIR_LOAD_MODEL and
%   QIR_PREDICT apply the scaling.
%
%   The file is plain text: '%' lines hold the parameters, every other line
%   is one node [template_row label], so LOAD(file, '-ascii') alone gives
%   the matrix [Templates NLabels].
%
%   Example:
%     % after: qir train data/circle_train.csv -o circle.model
%     [T, NL, p] = qir_read_model('circle.model');
%     qir_plot_nodes(T, NL, p.ratio); axis equal
%
%   See also QIR_TRAIN, QIR_PERF, QIR_PLOT_NODES, LOAD.

model = qir_load_model(file);
Templates = model.Templates;
NLabels = model.NLabels;
params = model;
params.list_presentations = model.num_list_presentations;
params.nodes = size(Templates, 1);
end
