// Anchor for the platform library while it has no other sources.
namespace vn::platform {
}
