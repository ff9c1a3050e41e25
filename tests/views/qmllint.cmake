# qmllint over every page with the module's own type information (the qmldir and qmltypes that
# qt_add_qml_module lays out under <build>/qml). These categories fail the test; only the
# deferred-property hint stays a note: an id inside a control's contentItem makes Qt Quick
# Controls build that item at once, which costs a little start-up time and is no fault.
file(GLOB LINTED_PAGES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/views/qml/*.qml)
set(QMLLINT_FAILING alias deprecated import inheritance-cycle property required signal type unqualified
    unused-imports with)
set(QMLLINT_LEVELS --deferred-property-id info)
foreach(category ${QMLLINT_FAILING})
  list(APPEND QMLLINT_LEVELS --${category} warning)
endforeach()
add_test(NAME views_qmllint
         COMMAND $<TARGET_FILE:Qt6::qmllint> -I ${CMAKE_BINARY_DIR}/qml ${QMLLINT_LEVELS}
                 ${LINTED_PAGES})
