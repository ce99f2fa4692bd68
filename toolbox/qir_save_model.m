function qir_save_model(model, file)
%QIR_SAVE_MODEL  Write a model to a file that the qir command reads.
%   qir_save_model(model, file) writes the model struct of qir_fit or
%   qir_load_model in the qir command's model file format: '%' header lines
%   with the parameters, the scaling range and the class names, then one
%   line per node, its template row and label. Every number is written with
%   the fewest digits that read back as the same double, as the command
%   writes them. 'qir classify' then takes the file, and
%   load(file, '-ascii') gives [Templates NLabels].
%
%   Example:
%     model = qir_fit([0 0; 1 1; 0 1; 1 0], [1; 1; 2; 2], 'Oflag', 0);
%     file = [tempname() '.model'];
%     qir_save_model(model, file);
%     copy = qir_load_model(file);
%     same = isequal(copy.Templates, model.Templates)
%     delete(file);
%
%   See also QIR_LOAD_MODEL, QIR_FIT, QIR_READ_MODEL.

if nargin ~= 2 || ~isstruct(model) || ~ischar(file)
  error('qir_save_model:arguments', 'qir_save_model needs a model struct and a file name.');
end
% The library's writer, the qir command's own: it refuses a model that
% could not be read back.
try
  qir_gateway('write', model, file);
catch failure
  qir_refusal(failure, 'qir_save_model');
end
end
