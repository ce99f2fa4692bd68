function model = qir_load_model(file)
%QIR_LOAD_MODEL  Read a model file written by 'qir train' or qir_save_model.
%   model = qir_load_model(file) returns the model struct that qir_fit
%   makes: the nodes (Templates, NLabels), the training parameters, the
%   scaling range (feature_min, feature_max; empty when the model takes raw
%   features) and the class names, ready for qir_predict. Model files of
%   formats 1 to 3 are read (3: an ensemble, whose members 2..K go to
%   further_members, as qir_fit makes them); a damaged or contradictory file is refused
%   with an error that names the line at fault (the same reader as the
%   qir command's and the Python package's).
%
%   Example:
%     model = qir_fit([0 0; 1 1; 0 1; 1 0], {'a'; 'a'; 'b'; 'b'}, 'Oflag', 0);
%     file = [tempname() '.model'];
%     qir_save_model(model, file);
%     copy = qir_load_model(file);
%     names = copy.class_names
%     delete(file);
%
%   See also QIR_SAVE_MODEL, QIR_PREDICT, QIR_READ_MODEL.

if nargin ~= 1 || ~ischar(file)
  error('qir_load_model:arguments', 'qir_load_model needs a file name.');
end
% The library's reader, which the qir command and Python use too: it
% refuses a damaged or contradictory file with a message naming the line.
try
  model = qir_gateway('read', file);
catch failure
  qir_refusal(failure, 'qir_load_model');
end
model.label_type = 'double';
if ~isempty(model.class_names)
  model.label_type = 'cellstr';
end
end
