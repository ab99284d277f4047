# Writes OUTPUT from INPUT with the version text: VERSION, followed by the git description
# of SOURCE_DIR where it is a git checkout. Run as a script at every build; configure_file
# leaves OUTPUT untouched while the text stays the same, so only a new description
# recompiles that one file and relinks the programs.
set(IMPORTDLG_VERSION_TEXT "${VERSION}")
find_program(GIT_PROGRAM git)
if(GIT_PROGRAM)
  # Sources unpacked inside another checkout are not that checkout's: only a checkout whose
  # top is SOURCE_DIR describes them.
  execute_process(COMMAND ${GIT_PROGRAM} -C ${SOURCE_DIR} rev-parse --show-toplevel
                  OUTPUT_VARIABLE top OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  file(REAL_PATH "${SOURCE_DIR}" source_dir)
  if(top)
    file(REAL_PATH "${top}" top)
  endif()
  if(top STREQUAL source_dir)
    execute_process(COMMAND ${GIT_PROGRAM} -C ${SOURCE_DIR} describe --tags --always --dirty
                    OUTPUT_VARIABLE description OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE failed ERROR_QUIET)
    if(NOT failed AND description)
      set(IMPORTDLG_VERSION_TEXT "${VERSION} (git ${description})")
    endif()
  endif()
endif()
configure_file(${INPUT} ${OUTPUT} @ONLY)
