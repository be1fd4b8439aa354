# The Pd releases of scripts/pd-hosts (the tests' hosts, and Pd64's headers),
# fetched into LORVEX_PD_HOSTS_DIR once per configure run, by whoever needs
# them first. A release that cannot be fetched or started stops the configure.
function(lorvex_fetch_pd_hosts)
  get_property(fetched GLOBAL PROPERTY LORVEX_PD_HOSTS_FETCHED)
  if(fetched)
    return()
  endif()
  execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/pd-hosts ${LORVEX_PD_HOSTS_DIR}
    RESULT_VARIABLE hosts_failed)
  if(hosts_failed)
    message(FATAL_ERROR "The Pd releases could not be fetched or started "
      "(scripts/pd-hosts ${LORVEX_PD_HOSTS_DIR}, messages above).")
  endif()
  set_property(GLOBAL PROPERTY LORVEX_PD_HOSTS_FETCHED TRUE)
endfunction()

# The multi-instance libpd of scripts/pd-libpd (the multi-instance flavour's
# headers, and the host its scenarios run in), built into LORVEX_LIBPD_DIR once
# and kept; a libpd that cannot be built stops the configure.
function(lorvex_fetch_libpd)
  get_property(fetched GLOBAL PROPERTY LORVEX_LIBPD_FETCHED)
  if(fetched)
    return()
  endif()
  execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/pd-libpd ${LORVEX_LIBPD_DIR}
    RESULT_VARIABLE libpd_failed)
  if(libpd_failed)
    message(FATAL_ERROR "The multi-instance libpd could not be built "
      "(scripts/pd-libpd ${LORVEX_LIBPD_DIR}, messages above).")
  endif()
  set_property(GLOBAL PROPERTY LORVEX_LIBPD_FETCHED TRUE)
endfunction()
