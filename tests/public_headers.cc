// Built with include/ as the only project include folder: a host compiles against these alone.
#include <kxphone/calendar_record.h>
#include <kxphone/contact_record.h>
#include <kxphone/host_blocks.h>
#include <kxphone/kxphone.h>
#include <kxphone/ole_date.h>
#include <kxphone/profiles.h>
#include <kxphone/record_list.h>
#include <kxphone/record_verify.h>
