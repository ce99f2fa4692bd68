function codes = qir_class_codes(model, y, caller)
%QIR_CLASS_CODES  Labels y as the model's class numbers, a column (names
%   through its class names); empty for no labels. Refusals are CALLER's
%   ('CALLER:labels').
codes = zeros(0, 1);
if isempty(y)
  return
end
if iscellstr(y) || isa(y, 'string') || isa(y, 'categorical')
  if isempty(model.class_names)
    error([caller ':labels'], '%s: the labels are names, the model''s classes are numbers.', caller);
  end
  [known, where] = ismember(cellstr(y(:)), model.class_names);
  if ~all(known)
    error([caller ':labels'], '%s: a label names no class of the model.', caller);
  end
  codes = double(model.class_labels(where));
else
  codes = double(y(:));
end
codes = codes(:);
end
