function make(outdir)
%MAKE  Build the QIR modules qir_train, qir_perf and the toolbox's gateway for this MATLAB or Octave.
%   MAKE compiles the modules' C++ sources, as ../cmake/modules.mk lists
%   them with the flags every build of them uses, into qir_train and
%   qir_perf (each with its help beside it) in the toolbox folder, next to
%   this file, and into private/qir_gateway, the toolbox's way into the
%   library (fit, predict, cross-validation, search, model files), which
%   only the toolbox's m-files call. Run it from the toolbox folder:
%
%       cd toolbox
%       make
%
%   In GNU Octave this gives qir_train.mex, qir_perf.mex and
%   private/qir_gateway.mex (through mkoctfile --mex); in MATLAB
%   qir_train.<mexext> and so on
%   (through mex, with the R2017b API). A C++17 compiler is needed: in MATLAB
%   choose one with "mex -setup C++" first.
%
%   MAKE(OUTDIR) writes the modules to the folder OUTDIR instead.
%
%   See also qir_train, qir_perf.

here = fileparts(mfilename('fullpath'));
root = fileparts(here);
if nargin < 1
  outdir = here;
end
if ~exist(outdir, 'dir')
  error('make: output folder %s does not exist', outdir);
end
build = read_build_list(root);

is_octave = exist('OCTAVE_VERSION', 'builtin') ~= 0;
% The fallback mexAddFlops goes only into modules for hosts without one.
if is_octave
  host_counts_flops = false;
else
  host_counts_flops = matlab_has_add_flops();
end
host = {};
defines = {};
if ~host_counts_flops
  host = build.QIR_ADD_FLOPS_FALLBACK_FILE;
  defines = strcat('-D', build.QIR_ADD_FLOPS_FALLBACK_DEFINE);
end
% Ctrl-C: MATLAB answers the modules' interrupt poll from its libut; Octave
% has none, so the modules carry their own answer from Octave's state.
libraries = {};
if is_octave
  host = [host, build.QIR_OCTAVE_INTERRUPT_FILE];
else
  libraries = strcat('-l', build.QIR_MATLAB_LIBRARIES);
end

work = tempname();
mkdir(work);
cleanup = onCleanup(@() remove_folder(work));
extra = version_resource(is_octave, work, build.QIR_VERSION_RESOURCE_FILE{1});

for k = 1:numel(build.QIR_MODULES)
  name = build.QIR_MODULES{k};
  sources = [module_sources(build, name), host, extra];
  includes = strcat('-I', source_folders(sources));
  where = outdir;
  if any(strcmp(build.QIR_PRIVATE_MODULES, name))
    where = fullfile(outdir, 'private');
    if ~exist(where, 'dir')
      mkdir(where);
    end
  end
  fprintf('Building %s from %d source files ...\n', name, numel(sources));
  if is_octave
    target = build_octave(name, where, sources, [includes, defines], build);
  else
    target = build_matlab(name, where, sources, [includes, defines, libraries], extra, build);
  end
  % Its help beside it, never on the path alone.
  help = fullfile(here, 'help', [name '.m']);
  if exist(help, 'file') && ~strcmp(fileparts(help), where)
    copyfile(help, where);
  end
  fprintf('  %s\n', target);
end
fprintf('Done. Add the folder to the path to use them:  addpath(''%s'')\n', outdir);
end

% cmake/modules.mk, which CMake and the Octave package's Makefile read too:
% one field per "NAME = words" line, each a cell array of its words; the
% paths (QIR_GROUP_* and *_FILE) made whole.
function build = read_build_list(root)
file = fullfile(root, 'cmake', 'modules.mk');
if ~exist(file, 'file')
  error('make: %s is missing: run make from the toolbox folder of a QIR source tree', file);
end
text = regexprep(fileread(file), '#[^\n]*', '');
text = regexprep(text, '\\\r?\n', ' ');
build = struct();
for line = regexp(text, '\r?\n', 'split')
  entry = strtrim(line{1});
  if isempty(entry)
    continue;
  end
  parts = regexp(entry, '^(\w+)\s*=\s*(.*)$', 'tokens', 'once');
  if isempty(parts)
    error('make: %s: not a NAME = words line: %s', file, entry);
  end
  words = regexp(parts{2}, '\S+', 'match');
  if ~isempty(regexp(parts{1}, '^QIR_GROUP_|_FILE$', 'once'))
    words = cellfun(@(w) fullfile(root, strrep(w, '/', filesep)), words, 'UniformOutput', false);
  end
  build.(parts{1}) = words;
end
end

function sources = module_sources(build, name)
sources = {};
for group = build.(['QIR_MODULE_' name])
  sources = [sources, build.(['QIR_GROUP_' group{1}])];
end
end

% A module's include path: the folders of its sources, in their order.
function folders = source_folders(sources)
folders = {};
for k = 1:numel(sources)
  folder = fileparts(sources{k});
  if ~any(strcmp(folders, folder))
    folders{end + 1} = folder;
  end
end
end

function target = build_octave(name, outdir, sources, flags, build)
target = fullfile(outdir, [name '.mex']);
[cxxflags, status] = mkoctfile('-p', 'CXXFLAGS');
if status ~= 0
  error('make: mkoctfile -p CXXFLAGS failed');
end
% mkoctfile takes compiler flags from the environment only.
cxxflags = [strtrim(cxxflags) ' ' gcc_flags(octave_compiler(), build)];
old = getenv('CXXFLAGS');
restore = onCleanup(@() restore_variable('CXXFLAGS', old));
setenv('CXXFLAGS', cxxflags);
% Export mexFunction alone, also the library templates that hidden
% visibility leaves public. Each linker has its own way; on Windows
% (MinGW) mexFunction's dllexport already makes it the only export.
link = {};
map = build.QIR_EXPORTS_MAP_FILE{1};
if ismac()
  link = {'-Wl,-exported_symbol,_mexFunction'};
elseif isunix() && exist(map, 'file')
  link = {['-Wl,--version-script=' map]};
end
mkoctfile('--mex', '-o', target, flags{:}, link{:}, sources{:});
end

% An empty variable is not an unset one: mkoctfile would take it as no flags.
function restore_variable(name, value)
if isempty(value)
  unsetenv(name);
else
  setenv(name, value);
end
end

function target = build_matlab(name, outdir, sources, flags, extra, build)
target = fullfile(outdir, [name '.' mexext]);
cc = mex.getCompilerConfigurations('C++', 'Selected');
if isempty(cc)
  error('make: no C++ compiler selected; run "mex -setup C++" first');
end
short = lower(cc(1).ShortName);
options = {'-R2017b', '-outdir', outdir, '-output', name};
if ~isempty(strfind(short, 'msvc'))
  options{end + 1} = ['COMPFLAGS=$COMPFLAGS /std:c++' build.QIR_CXX_STANDARD{1} ' ' ...
                      strjoin(build.QIR_MSVC_FLAGS, ' ')];
  res = extra(~cellfun(@isempty, regexp(extra, '\.res$', 'once')));
  if ~isempty(res)
    options{end + 1} = ['LINKFLAGS=$LINKFLAGS "' res{1} '"'];
  end
  sources = setdiff(sources, res, 'stable');
else
  options{end + 1} = ['CXXFLAGS=$CXXFLAGS ' gcc_flags(short, build)];
end
mex(options{:}, flags{:}, sources{:});
end

% The flags of every gcc or clang build of the modules.
function flags = gcc_flags(compiler, build)
words = [{['-std=c++' build.QIR_CXX_STANDARD{1}]}, build.QIR_GCC_FLAGS, build.QIR_GCC_MODULE_FLAGS];
if ~isempty(strfind(compiler, 'g++')) && isempty(strfind(compiler, 'clang')) && isunix() && ~ismac()
  words = [words, build.QIR_GNU_MODULE_FLAGS];
end
if ~isempty(regexp(computer(), '^i[3-6]86', 'once'))
  words = [words, build.QIR_X86_32_FLAGS];
end
flags = strjoin(words, ' ');
end

function compiler = octave_compiler()
[cxx, status] = mkoctfile('-p', 'CXX');
compiler = '';
if status == 0
  [status, text] = system([strtrim(cxx) ' --version']);
  if status == 0 && isempty(strfind(lower(text), 'clang'))
    compiler = 'g++';
  end
end
end

function yes = matlab_has_add_flops()
header = fullfile(matlabroot, 'extern', 'include', 'mex.h');
yes = exist(header, 'file') && ~isempty(strfind(fileread(header), 'mexAddFlops'));
end

% Windows keeps the interface version as string resources: compile the
% resource script for the linker. Elsewhere core/version_stamp.cpp holds it.
function extra = version_resource(is_octave, work, script)
extra = {};
if ~ispc()
  return;
end
if is_octave
  tool = 'windres';
  output = fullfile(work, 'qir_version_res.o');
  command = sprintf('%s -O coff -i "%s" -o "%s"', tool, script, output);
else
  cc = mex.getCompilerConfigurations('C++', 'Selected');
  if isempty(cc)
    return;  % build_matlab says what is missing
  end
  if ~isempty(strfind(lower(cc(1).ShortName), 'msvc'))
    tool = 'rc';
    output = fullfile(work, 'qir_version.res');
    % rc lives in the Windows SDK, rarely on MATLAB's PATH: run it in the
    % environment that mex sets up for the compiler.
    command = sprintf('%src /nologo /fo "%s" "%s"', msvc_environment(cc(1)), output, script);
  else
    tool = fullfile(cc(1).Location, 'bin', 'windres');
    output = fullfile(work, 'qir_version_res.o');
    command = sprintf('"%s" -O coff -i "%s" -o "%s"', tool, script, output);
  end
end
[status, text] = system(command);
if status == 0
  extra = {output};
else
  warning('make: %s could not compile %s, so the modules carry no version resource:\n%s', ...
          tool, script, text);
end
end

% The compiler configuration's "set NAME=value" commands (PATH with the
% SDK's bin folder among them) as a prefix for one system() command line.
function prefix = msvc_environment(cc)
prefix = '';
if ~isfield(cc.Details, 'SetEnv') && ~isprop(cc.Details, 'SetEnv')
  return;
end
lines = strtrim(strsplit(cc.Details.SetEnv, {char(10), char(13)}));
lines = lines(~cellfun(@isempty, regexp(lines, '^set ', 'once')));
if ~isempty(lines)
  prefix = [strjoin(lines, ' & ') ' & '];
end
end

function remove_folder(folder)
if ~exist(folder, 'dir')
  return;
end
if exist('OCTAVE_VERSION', 'builtin') ~= 0
  % Octave would otherwise ask before removing a folder with files in it.
  old = confirm_recursive_rmdir(false);
  rmdir(folder, 's');
  confirm_recursive_rmdir(old);
else
  rmdir(folder, 's');
end
end
