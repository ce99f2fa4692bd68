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
%   The data folder is found beside this toolbox folder. The parameters are
%   those of the 'qir demo' command, so both print the same figures.
%
%   Example:
%     acc = qir_demo();
%
%   See also QIR_TRAIN, QIR_PERF, QIR_PLOT_NODES, QIR_READ_MODEL.

data_dir = fullfile(fileparts(mfilename('fullpath')), '..', 'data');
train = dlmread(fullfile(data_dir, 'circle_train.csv'), ',');
test = dlmread(fullfile(data_dir, 'circle_test.csv'), ',');

% Same choices as the 'qir demo' command.
D = 1; ratio = 0.5; vigilance = 0.7; alpha = 0.001; learning_rate = 1;
max_presentations = 100; trim = 1; ct = 0; unknown_label = 0; oflag = 1;

started = tic;
[Templates, NLabels, presentations] = qir_train(train(:, 1:2), train(:, 3), D, ratio, ...
    vigilance, alpha, learning_rate, max_presentations, trim, ct, oflag);
assigned = qir_perf(Templates, NLabels, D, ratio, vigilance, alpha, ct, test(:, 1:2), ...
                    unknown_label, oflag);
seconds = toc(started);

accuracy = 100 * mean(assigned == test(:, 3));
fprintf('Accuracy: %.2f%% (%d of %d patterns)\n', accuracy, sum(assigned == test(:, 3)), ...
        size(test, 1));
fprintf('Nodes: %d (after %d list presentations)\n', size(Templates, 1), presentations);
fprintf('Run time: %.2f s\n', seconds);

figure;
qir_plot_nodes(Templates, NLabels, ratio);
hold on
% Points last, so they stay visible where a graphics toolkit draws the
% node regions opaque.
colours = [31 119 180; 214 39 40] / 255;
for label = 1:2
  points = train(train(:, 3) == label, 1:2);
  plot(points(:, 1), points(:, 2), '.', 'Color', colours(label, :), 'MarkerSize', 6);
end
axis equal
title(sprintf('QIR demo: %d nodes, %.2f%% test accuracy', size(Templates, 1), accuracy));
hold off
end
