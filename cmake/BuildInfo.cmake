# Program-wide texts a packager may set at configure time, e.g.
#   cmake -S . -B build -DVEMRA_CONTACT_EMAIL=me@example.org
set(VEMRA_CONTACT_EMAIL "vemra2@example.org" CACHE STRING "Contact e-mail shown by the program")
set(VEMRA_WEB_ADDRESS "" CACHE STRING
    "Web address shown by the program; empty means the installed help page")
set(VEMRA_CREDITS "Vemra-2 (C) 2026 the Vemra-2 developers" CACHE STRING "Credits line")

# The day this version was released, as the AppStream metadata and the
# package's changelog give it: the release's own, not the day of the build,
# so that two builds of one version make the same files.
set(VEMRA_RELEASE_DATE 2026-12-08)
set(VEMRA_RELEASE_DATE_DEBIAN "Tue, 08 Dec 2026 12:00:00 +0000")
