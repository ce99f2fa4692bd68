function figures = qir_stream_demo(batches)
%QIR_STREAM_DEMO  Learn the digits as a stream, batch by batch, beside a refit.
%   QIR_STREAM_DEMO feeds data/digits.csv to qir_fit in 10 batches, each
%   learned on top of the model so far (qir_fit(X, y, 'Model', model)),
%   where no 9 comes before batch 6. After each batch it tests the model on
%   the fifth of the digits kept aside, beside a refit on all data so far,
%   times both and a fit on the batch alone, prints a table and draws
%   accuracy and time against the batch in a figure. The batches are those
%   of 'qir demo --stream' and of Python's qir.stream_demo (the library
%   deals them).
%
%   figures = QIR_STREAM_DEMO(batches) uses that many batches and returns
%   one row per batch: [patterns seen, nodes of all members, continued accuracy (%),
%   seconds, batch-alone seconds, refit accuracy (%), seconds].
%
%   Example:
%     figures = qir_stream_demo(4);
%
%   See also QIR_FIT, QIR_PREDICT, QIR_DEMO.

if nargin < 1
  batches = 10;
end
D = dlmread(qir_data_file('digits.csv'), ',');
X = D(:, 1:end - 1);
y = D(:, end);
[test, stream, late_class, late_batch] = qir_gateway('stream_plan', y, batches, 1);
fprintf(['QIR stream demo in the toolbox: digits in %d batches, class %d from batch %d on; ' ...
         '%d patterns kept for testing\n'], numel(stream), late_class, late_batch, numel(test));
fprintf('Batch   Seen  Nodes  Continued  Time (s)  Alone (s)   Refit  Time (s)\n');
figures = zeros(numel(stream), 7);
quiet = qir_data_warnings();  % the digits' blank pixels are no news here
seen = [];
model = [];
for b = 1:numel(stream)
  rows = stream{b};
  seen = [seen; rows];
  tic;
  if isempty(model)
    model = qir_fit(X(rows, :), y(rows), 'Oflag', 0, 'Scale', 'minmax');
  else
    model = qir_fit(X(rows, :), y(rows), 'Model', model, 'Oflag', 0);
  end
  continued_s = toc;
  tic;
  qir_fit(X(rows, :), y(rows), 'Oflag', 0, 'Scale', 'minmax');
  alone_s = toc;
  tic;
  refit = qir_fit(X(seen, :), y(seen), 'Oflag', 0, 'Scale', 'minmax');
  refit_s = toc;
  continued = 100 * mean(qir_predict(model, X(test, :)) == y(test));
  refitted = 100 * mean(qir_predict(refit, X(test, :)) == y(test));
  figures(b, :) = [numel(seen), all_nodes(model), continued, continued_s, alone_s, ...
                   refitted, refit_s];
  fprintf('%5d %6d %6d  %8.1f%% %9.3f %10.3f  %6.1f%% %9.3f\n', b, figures(b, :));
end
fprintf('After the last batch: continued %.1f%%, one fit on all %d patterns %.1f%%\n', ...
        figures(end, 3), figures(end, 1), figures(end, 6));

figure;
subplot(1, 2, 1);
plot(1:numel(stream), figures(:, 3), '-o', 1:numel(stream), figures(:, 6), '--o');
hold on;
plot([late_batch late_batch], ylim(), ':k');
hold off;
xlabel('batch');
ylabel('test accuracy (%)');
legend('continued (''Model'')', 'refit on all data so far', 'location', 'southeast');
title(sprintf('Digits in %d batches; class %d from batch %d', numel(stream), late_class, ...
              late_batch));
subplot(1, 2, 2);
plot(1:numel(stream), figures(:, 4), '-o', 1:numel(stream), figures(:, 7), '--o', ...
     1:numel(stream), figures(:, 5), ':o');
xlabel('batch');
ylabel('training time (s)');
legend('continued', 'refit', 'batch alone', 'location', 'northwest');
end

function n = all_nodes(model)
n = numel(model.NLabels);
if isfield(model, 'further_members') && ~isempty(model.further_members)
  n = n + numel(vertcat(model.further_members.NLabels));
end
end
