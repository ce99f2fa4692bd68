function S = qir_scale(X, fmin, fmax)
%QIR_SCALE  Min-max scaling to [0, 1] by the training range, as the qir command
%   does it (lib/feature_scaling.cpp): (x - min) / (max - min) with the same
%   operations, then clipped to [0, 1]; a feature whose max equals its min
%   maps to 0. So the toolbox and the command give identical doubles.
S = (X - fmin) ./ (fmax - fmin);
S(S < 0) = 0;
S(S > 1) = 1;
S(:, fmax == fmin) = 0;
end
