function varargout = qir_gateway(varargin)
%QIR_GATEWAY  The toolbox's way into the library, for its m-files alone.
%   Built by make into this folder as a module, which then takes the call
%   in place of this file. This file answers only where the module has not
%   been built: it says where a built toolbox is.
here = fileparts(fileparts(mfilename('fullpath')));
built = '';
% A CMake build keeps its toolbox beside its modules.
modules = fileparts(which('qir_train'));
candidate = fullfile(modules, 'toolbox');
if ~isempty(modules) && exist(fullfile(candidate, 'private'), 'dir') && ~strcmp(candidate, here)
  built = sprintf(' or addpath(''%s''), the built toolbox,', candidate);
end
error('qir:not_built', ['the toolbox in %s has no built gateway: run make there%s ' ...
                        'to use qir_fit, qir_predict and the rest.'], here, built);
end
