function [Patterns, PLabels] = qir_grid_data()
%QIR_GRID_DATA  36 patterns on a 6 x 6 grid over the unit square in three
%   classes: below the anti-diagonal band 1, above it 2 left of x = 0.5 and
%   3 right of it. Deterministic, so every host sees the same data.
[x, y] = meshgrid(0:0.2:1);
Patterns = [x(:), y(:)];
PLabels = ones(size(Patterns, 1), 1);
upper = sum(Patterns, 2) > 0.9;
PLabels(upper & Patterns(:, 1) < 0.5) = 2;
PLabels(upper & Patterns(:, 1) >= 0.5) = 3;
end
