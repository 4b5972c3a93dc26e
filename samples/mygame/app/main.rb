# The sample game: counts its ticks and reports once a second in the log.
# Edit this file while the game runs: it reloads within about a second.
def tick args
  args.state.seconds ||= 0
  return unless Kernel.tick_count % 60 == 0

  args.state.seconds += 1
  puts "mygame has been running for #{args.state.seconds} s (tick #{Kernel.tick_count})"
end
