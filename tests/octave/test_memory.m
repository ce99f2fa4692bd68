% 1,000 rounds of calls, failing ones among them, leave Octave's memory
% use flat: what the modules take from the host allocator comes back when a
% call ends, also when it ends in an error, and the nodes they make on the
% heap are all released. Measured as the resident size of this Octave
% process, after a warm-up that lets Octave's own allocations settle.
qir_test_setup();

[P, L] = qir_grid_data();
% A larger set to classify makes any per-call loss of its copy visible.
[x, y] = meshgrid(linspace(0, 1, 15), linspace(0, 1, 10));
many = [x(:), y(:)];  % 150 patterns
[T, NL, ~] = qir_train(P, L, sqrt(2), 0.7, 0, 0.001, 1, 100, 1, 1, 0);

function failed = one_round(P, L, T, NL, many)
  failed = 0;
  [t, nl, n] = qir_train(P, L, sqrt(2), 0.7, 0, 0.001, 0.8, 100, 1, 1, 0);
  labels = qir_perf(T, NL, sqrt(2), 0.7, 0.2, 0.001, 1, many, -1, 0);
  bad = {{P, L, -1, 0.7, 0, 0.001, 1, 100, 1, 1, 0}, ...          % D refused
         {int32(P), L, sqrt(2), 0.7, 0, 0.001, 1, 100, 1, 1, 0}, ... % class refused
         {P, L, sqrt(2), 0.7, 0, 0.001, 1, 100, 1, 1, zeros(2)}};  % oflag shape
  for k = 1:numel(bad)
    try
      [t, nl, n] = qir_train(bad{k}{:});
    catch
      failed = failed + 1;
    end
  end
  try
    [labels, extra] = qir_perf(T, NL, sqrt(2), 0.7, 0.2, 0.001, 1, many, -1, 0);
  catch
    failed = failed + 1;  % one result only
  end
  try
    labels = qir_perf(T, NL, [], 0.7, 0.2, 0.001, 1, many, -1, 0);
  catch
    failed = failed + 1;  % empty D
  end
end

function kib = resident_kib()
  status = fileread('/proc/self/status');
  kib = str2double(regexp(status, 'VmRSS:\s*(\d+)', 'tokens', 'once'){1});
end

for k = 1:200
  one_round(P, L, T, NL, many);
end
before = resident_kib();
failed = 0;
for k = 1:1000
  failed = failed + one_round(P, L, T, NL, many);
end
after = resident_kib();

check(failed == 5000, '%d of 5000 calls meant to fail did fail', failed);
growth = after - before;
printf('resident size %d KiB before, %d KiB after 1000 rounds (%+d KiB)\n', before, after, growth);
% A call that lost only its copy of the 150 patterns would lose over 3 KiB,
% so 1000 rounds would grow by megabytes; Octave itself stays well within
% the slack allowed here.
check(growth < 512, 'Octave grew by %d KiB over 1000 rounds of calls', growth);
