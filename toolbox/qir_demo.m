function [accuracy, Templates, NLabels] = qir_demo()
%QIR_DEMO Train and test QIR on the circle-in-the-square benchmark.
%   QIR_DEMO trains QIR_TRAIN on data/circle_train.csv (1000 points uniform
%   in the unit square, label 1 inside the centred circle that covers half
%   the square, 2 outside), classifies data/circle_test.csv (10000 points)
%   with QIR_PERF, prints the modules' summaries, the accuracy and the
%   number of nodes, and draws the nodes over the training points.
%
%   [accuracy, Templates, NLabels] = QIR_DEMO returns the test accuracy in
%   percent and the trained nodes.
%
%   The data folder is found beside this toolbox folder (or inside it, in
%   the Octave package). The parameters are the defaults that 'qir demo'
%   uses too, one model rather than an ensemble, so both print the same
%   figures.
%
%   Example:
%     acc = qir_demo();
%
%   See also QIR_FIT, QIR_PREDICT, QIR_PLOT_NODES, QIR_TRAIN, QIR_PERF.

train = dlmread(qir_data_file('circle_train.csv'), ',');
test = dlmread(qir_data_file('circle_test.csv'), ',');

% The node defaults of qir_fit, as 'qir demo' uses the command's, and like
% it one model in the file's order, whose nodes the picture shows.
started = tic;
model = qir_fit(train(:, 1:2), train(:, 3), 'Voters', 1, 'Shuffle', false);
[assigned, info] = qir_predict(model, test(:, 1:2), 'Oflag', 1, 'UnknownLabel', 0);
seconds = toc(started);
Templates = model.Templates;
NLabels = model.NLabels;

right = assigned == test(:, 3);
accuracy = 100 * sum(right) / numel(right);
fprintf('Accuracy: %.2f%% (%d of %d patterns)\n', accuracy, sum(right), size(test, 1));
if any(info.unknown)
  fprintf('Unclassified: %d patterns\n', sum(info.unknown));
end
fprintf('Nodes: %d (after %d list presentations)\n', size(Templates, 1), ...
        model.num_list_presentations);
fprintf('Run time: %.2f s\n', seconds);

figure;
qir_plot_nodes(model);
hold on
% Points last, so they stay visible where a graphics toolkit draws the
% node regions opaque; the nodes are drawn in the data's units.
points = train(:, 1:2);
colours = qir_gateway('colours');
for label = 1:2
  chosen = points(train(:, 3) == label, :);
  plot(chosen(:, 1), chosen(:, 2), '.', 'Color', colours(label, :), 'MarkerSize', 6);
end
axis equal
title(sprintf('QIR demo: %d nodes, %.2f%% test accuracy', size(Templates, 1), accuracy));
hold off
end
