MRuby::Gem::Specification.new('moonforge-time') do |spec|
  spec.license = 'Same as Moonforge Orbkit'
  spec.author  = 'Moonforge Orbkit developers'
  spec.summary = 'Time class: epoch seconds with microseconds, UTC or local'
end
