# Sourced by the fake suites: devbench's start-up questions and a menu of
# one test, as the operator meets them.
menu() { printf 'Available tests:\n0 - Test Open Port\n\nEnter the test number to execute, or a for all, or e for exit: '; }
# The banner, both questions (answers in $name and $settings) and the menu.
start() {
    printf 'devbench\nEnter the port name: '
    read -r name
    printf '\nEnter the port settings: '
    read -r settings
    printf '\n'
    menu
}
