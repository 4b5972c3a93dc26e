MRuby::Gem::Specification.new('moonforge-random') do |spec|
  spec.license = 'Same as Moonforge Orbkit'
  spec.author  = 'Moonforge Orbkit developers'
  spec.summary = 'Random class (MT19937), Kernel#rand/srand, Array#shuffle/sample'
end
