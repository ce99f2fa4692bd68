function d = qir_defaults()
%QIR_DEFAULTS  The training defaults of the qir command (lib/training_defaults.h),
%   which qir_fit, qir_cv and qir_search share. D defaults to sqrt(M).
d = struct('Ratio', 0.5, 'Vigilance', 0, 'Alpha', 0.1, 'LearningRate', 1, ...
           'MaxPresentations', 100, 'Trim', 0, 'CT', 0, 'Scale', true, 'Oflag', 1);
end
