function varargout = toolbox_private(name, varargin)
%TOOLBOX_PRIVATE  Call a private function of the build's toolbox (its
%   gateway, say) from its own folder, for checks that the public m-files
%   do not reach.
here = pwd();
cd(fullfile(getenv('QIR_TOOLBOX'), 'private'));
back = onCleanup(@() cd(here));
[varargout{1:max(nargout, 1)}] = feval(name, varargin{:});
end
