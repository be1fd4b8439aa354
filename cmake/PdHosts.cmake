# lorvex_prepare_once(<script> <dir> <what>): runs scripts/<script> <dir>
# once per configure run, by whoever needs it first; kept by the script
# between runs. One that fails stops the configure, naming <what>.
function(lorvex_prepare_once script dir what)
  get_property(done GLOBAL PROPERTY LORVEX_PREPARED_${script})
  if(done)
    return()
  endif()
  execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/${script} ${dir}
    RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${what} (scripts/${script} ${dir}, messages above).")
  endif()
  set_property(GLOBAL PROPERTY LORVEX_PREPARED_${script} TRUE)
endfunction()

# The Pd releases of scripts/pd-hosts (the tests' hosts, and Pd64's headers),
# fetched into LORVEX_PD_HOSTS_DIR. A release that cannot be fetched or
# started stops the configure.
function(lorvex_fetch_pd_hosts)
  lorvex_prepare_once(pd-hosts ${LORVEX_PD_HOSTS_DIR}
    "The Pd releases could not be fetched or started")
endfunction()

# The multi-instance libpd of scripts/pd-libpd (the multi-instance flavour's
# headers, and the host its scenarios run in), built into LORVEX_LIBPD_DIR and
# kept; a libpd that cannot be built stops the configure.
function(lorvex_fetch_libpd)
  lorvex_prepare_once(pd-libpd ${LORVEX_LIBPD_DIR} "The multi-instance libpd could not be built")
endfunction()
