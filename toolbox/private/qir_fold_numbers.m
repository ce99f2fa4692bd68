function fold = qir_fold_numbers(labels, folds, seed)
%QIR_FOLD_NUMBERS  Stratified folds (1..FOLDS) exactly as 'qir cv' makes them
%   (lib/folds.cpp): each class's patterns in order are shuffled by
%   Fisher-Yates from the last down with the minimal standard generator
%   x <- 16807 x mod (2^31 - 1), x0 = mod(seed, 2^31 - 2) + 1, position k
%   swapped with floor(x k / (2^31 - 1)) + 1; then the classes in ascending
%   order are dealt out to the folds in turn. Every step is exact in doubles.
m = 2147483647;
state = mod(seed, m - 1) + 1;
fold = zeros(numel(labels), 1);
dealt = 0;
classes = unique(labels(:));
for c = 1:numel(classes)
  members = find(labels(:) == classes(c));
  for k = numel(members):-1:2
    state = mod(state * 16807, m);
    j = floor(state * k / m) + 1;
    members([k j]) = members([j k]);
  end
  fold(members) = mod(dealt + (0:numel(members) - 1)', folds) + 1;
  dealt = dealt + numel(members);
end
end
