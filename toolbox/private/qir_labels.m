function [labels, names, type] = qir_labels(y, caller)
%QIR_LABELS  Class labels of any kind as the modules' whole numbers.
%   Numeric and logical labels must be whole 32-bit numbers; they keep their values
%   (TYPE is their class, names is empty). A cell array of text, a string
%   array or a categorical array is mapped to 1..K in sorted order of the
%   names (TYPE 'cellstr', 'string' or 'categorical').
if iscellstr(y) || isa(y, 'string')
  type = class(y);
  [names, ~, labels] = unique(cellstr(y(:)));
elseif isa(y, 'categorical')
  type = 'categorical';
  labels = double(y(:));
  if any(isnan(labels))
    error([caller ':labels'], '%s: undefined categorical labels.', caller);
  end
  % Only the categories that occur: a model file names exactly its classes.
  names = categories(y);
  [used, ~, labels] = unique(labels);
  names = names(used);
elseif isnumeric(y) || islogical(y)
  type = class(y);
  names = {};
  labels = double(y(:));
  if ~all(qir_gateway('is_label', labels))
    error([caller ':labels'], '%s: numeric labels must be whole numbers in the 32-bit range.', caller);
  end
else
  error([caller ':labels'], '%s: labels must be numeric, text (cellstr) or categorical.', caller);
end
labels = labels(:);
names = names(:);
end
