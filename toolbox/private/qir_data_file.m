function path = qir_data_file(name)
% QIR_DATA_FILE  Path of a bundled data file: in data/ beside the toolbox
% where it is installed or packaged, else in the source tree's data/.
toolbox = fileparts(fileparts(mfilename('fullpath')));
path = fullfile(toolbox, 'data', name);
if ~exist(path, 'file')
  path = fullfile(toolbox, '..', 'data', name);
end
end
