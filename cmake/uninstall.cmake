# Removes every file listed in the install manifests of a build folder
# (install_manifest.txt for a whole install, install_manifest_<component>.txt
# for one component), then the folders of ours that are left empty. Files
# that are already gone are passed over, so it can run twice.
#   cmake -DBUILD_DIR=<build> -P uninstall.cmake
cmake_minimum_required(VERSION 3.25)

file(GLOB manifests ${BUILD_DIR}/install_manifest*.txt)
if(NOT manifests)
  message(FATAL_ERROR "Nothing to uninstall: no install manifest in ${BUILD_DIR} "
                      "(run cmake --install ${BUILD_DIR} first)")
endif()

set(files)
foreach(manifest IN LISTS manifests)
  file(STRINGS ${manifest} listed)
  list(APPEND files ${listed})
endforeach()
list(REMOVE_DUPLICATES files)

set(folders)
foreach(file IN LISTS files)
  if(EXISTS ${file} OR IS_SYMLINK ${file})
    message(STATUS "Removing ${file}")
    file(REMOVE ${file})
  endif()
  get_filename_component(folder ${file} DIRECTORY)
  list(APPEND folders ${folder})
endforeach()

# Then the folders of the project's own layout that are left empty, deepest
# first: lib/qir, share/qir with data and toolbox/private, the Python
# package qir with modules (and the bytecode Python wrote beside it); never
# a folder of the prefix itself.
set(own_folder "/qir(/modules|/data|/toolbox|/toolbox/private|/__pycache__)?$")
list(REMOVE_DUPLICATES folders)
list(SORT folders ORDER DESCENDING)
foreach(folder IN LISTS folders)
  while(folder MATCHES "${own_folder}" AND IS_DIRECTORY ${folder})
    file(GLOB bytecode ${folder}/__pycache__/*.pyc)
    if(bytecode)
      file(REMOVE ${bytecode})
      file(REMOVE_RECURSE ${folder}/__pycache__)
    endif()
    file(GLOB left ${folder}/* ${folder}/.*)
    if(left)
      break()
    endif()
    message(STATUS "Removing folder ${folder}")
    file(REMOVE_RECURSE ${folder})
    get_filename_component(folder ${folder} DIRECTORY)
  endwhile()
endforeach()
foreach(manifest IN LISTS manifests)
  file(REMOVE ${manifest})
endforeach()
