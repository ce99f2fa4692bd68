function make(outdir)
%MAKE  Build the QIR modules qir_train and qir_perf for this MATLAB or Octave.
%   MAKE compiles the C++ sources in ../core, ../fast, ../train and ../perf (every
%   .cpp file found there) into qir_train and qir_perf in the toolbox folder,
%   next to this file. Run it from the toolbox folder:
%
%       cd toolbox
%       make
%
%   In GNU Octave this gives qir_train.mex and qir_perf.mex (through
%   mkoctfile --mex); in MATLAB qir_train.<mexext> and qir_perf.<mexext>
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

is_octave = exist('OCTAVE_VERSION', 'builtin') ~= 0;
core_dir = fullfile(root, 'core');
fast_dir = fullfile(root, 'fast');
core = [cpp_files(core_dir), cpp_files(fast_dir)];
% The fallback mexAddFlops goes only into modules for hosts without one.
fallback = fullfile(core_dir, 'add_flops_fallback.cpp');
core = core(~strcmp(core, fallback));
if is_octave
  host_counts_flops = false;
else
  host_counts_flops = matlab_has_add_flops();
end
if ~host_counts_flops
  core{end + 1} = fallback;
end
% Ctrl-C: MATLAB answers the modules' interrupt poll from its libut; Octave
% has none, so the modules carry their own answer from Octave's state.
interrupt_link = {};
if is_octave
  core{end + 1} = fullfile(core_dir, 'octave', 'interrupt_pending.cpp');
else
  interrupt_link = {'-lut'};
end

work = tempname();
mkdir(work);
cleanup = onCleanup(@() remove_folder(work));
extra = version_resource(is_octave, work, fullfile(core_dir, 'qir_version.rc'));

modules = {'qir_train', 'train'; 'qir_perf', 'perf'};
for k = 1:size(modules, 1)
  name = modules{k, 1};
  own_dir = fullfile(root, modules{k, 2});
  sources = [cpp_files(own_dir), core, extra];
  includes = {['-I' own_dir], ['-I' fast_dir], ['-I' core_dir]};
  defines = {};
  if ~host_counts_flops
    defines = {'-DQIR_SUPPLY_MEXADDFLOPS'};
  end
  fprintf('Building %s from %d source files ...\n', name, numel(sources));
  if is_octave
    target = build_octave(name, outdir, sources, [includes, defines], root);
  else
    target = build_matlab(name, outdir, sources, [includes, defines, interrupt_link], extra);
  end
  fprintf('  %s\n', target);
end
fprintf('Done. Add the folder to the path to use them:  addpath(''%s'')\n', outdir);
end

function target = build_octave(name, outdir, sources, flags, root)
target = fullfile(outdir, [name '.mex']);
[cxxflags, status] = mkoctfile('-p', 'CXXFLAGS');
if status ~= 0
  error('make: mkoctfile -p CXXFLAGS failed');
end
% mkoctfile takes compiler flags from the environment only.
cxxflags = [strtrim(cxxflags) ' ' gcc_flags(octave_compiler())];
old = getenv('CXXFLAGS');
restore = onCleanup(@() restore_variable('CXXFLAGS', old));
setenv('CXXFLAGS', cxxflags);
% Export mexFunction alone, also the library templates that hidden
% visibility leaves public. Each linker has its own way; on Windows
% (MinGW) mexFunction's dllexport already makes it the only export.
link = {};
map = fullfile(root, 'cmake', 'mexfunction.map');
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

function target = build_matlab(name, outdir, sources, flags, extra)
target = fullfile(outdir, [name '.' mexext]);
cc = mex.getCompilerConfigurations('C++', 'Selected');
if isempty(cc)
  error('make: no C++ compiler selected; run "mex -setup C++" first');
end
short = lower(cc(1).ShortName);
options = {'-R2017b', '-outdir', outdir, '-output', name};
if ~isempty(strfind(short, 'msvc'))
  % /fp:precise neither reorders floating-point operations nor, together
  % with the fp_contract pragma of the sources, contracts them.
  options{end + 1} = 'COMPFLAGS=$COMPFLAGS /std:c++17 /fp:precise';
  res = extra(~cellfun(@isempty, regexp(extra, '\.res$', 'once')));
  if ~isempty(res)
    options{end + 1} = ['LINKFLAGS=$LINKFLAGS "' res{1} '"'];
  end
  sources = setdiff(sources, res, 'stable');
else
  options{end + 1} = ['CXXFLAGS=$CXXFLAGS ' gcc_flags(short)];
end
mex(options{:}, flags{:}, sources{:});
end

% Flags every gcc or clang build of the modules needs: C++17; no fused
% multiply-add or reassociation, so that results are bit-identical on every
% platform; hidden symbols, so mexFunction is the module's only export.
function flags = gcc_flags(compiler)
flags = '-std=c++17 -ffp-contract=off -fno-fast-math -fvisibility=hidden -fvisibility-inlines-hidden';
if ~isempty(strfind(compiler, 'g++')) && isempty(strfind(compiler, 'clang')) && isunix() && ~ismac()
  % gcc's unique symbols would keep a module loaded after clear.
  flags = [flags ' -fno-gnu-unique'];
end
if ~isempty(regexp(computer(), '^i[3-6]86', 'once'))
  % 32-bit x86: SSE2 arithmetic, never the x87 unit's extended precision
  % (the sources refuse to compile without it).
  flags = [flags ' -msse2 -mfpmath=sse'];
end
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

function files = cpp_files(folder)
listing = dir(fullfile(folder, '*.cpp'));
names = sort({listing.name});
files = cellfun(@(n) fullfile(folder, n), names, 'UniformOutput', false);
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
